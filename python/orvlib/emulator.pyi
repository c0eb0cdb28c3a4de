from ._emulator import DEMO_KEY as DEMO_KEY, Emulator as Emulator
