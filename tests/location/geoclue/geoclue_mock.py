'''GeoClue2 mock template for python3-dbusmock: Manager, one Client and Location objects.

Parameters (JSON through -p): "deny" makes GetClient answer AccessDenied; "no_agent" makes it never
answer, as GeoClue 2.6 waits for the user's authorization agent (it prints "GetClient held" when the
call arrives); "initial"
([lat, lon, accuracy] and optionally altitude, speed, heading) is announced as a new Location when
the client starts. The template prints its pid once loaded, when the bus name is already owned.
'''

import os
import sys
import time

import dbus
from dbusmock import mockobject
from gi.repository import GLib

BUS_NAME = 'org.freedesktop.GeoClue2'
MAIN_OBJ = '/org/freedesktop/GeoClue2/Manager'
MAIN_IFACE = 'org.freedesktop.GeoClue2.Manager'
SYSTEM_BUS = True

CLIENT_OBJ = '/org/freedesktop/GeoClue2/Client/1'
CLIENT_IFACE = 'org.freedesktop.GeoClue2.Client'
LOCATION_IFACE = 'org.freedesktop.GeoClue2.Location'
UNKNOWN_ALTITUDE = -sys.float_info.max


def load(mock, parameters):
    mock.geoclue = {'deny': parameters.get('deny'), 'no_agent': parameters.get('no_agent'),
                    'initial': parameters.get('initial'), 'locations': 0, 'active': False}
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary(
        {'InUse': False, 'AvailableAccuracyLevel': dbus.UInt32(8)}, signature='sv'))
    print(os.getpid(), flush=True)


def manager():
    return mockobject.objects[MAIN_OBJ]


def push(lat, lon, accuracy, altitude=UNKNOWN_ALTITUDE, speed=-1.0, heading=-1.0):
    state = manager().geoclue
    state['locations'] += 1
    path = '/org/freedesktop/GeoClue2/Location/%d' % state['locations']
    now = time.time()
    values = {'Latitude': lat, 'Longitude': lon, 'Accuracy': accuracy, 'Altitude': altitude,
              'Speed': speed, 'Heading': heading}
    properties = {k: dbus.Double(v) for k, v in values.items()}
    properties['Description'] = ''
    properties['Timestamp'] = dbus.Struct((dbus.UInt64(int(now)), dbus.UInt64(int(now % 1 * 1e6))),
                                          signature='tt')
    manager().AddObject(path, LOCATION_IFACE, properties, [])
    if state['active']:
        client = mockobject.objects[CLIENT_OBJ]
        old = client.Get(CLIENT_IFACE, 'Location')
        client.Set(CLIENT_IFACE, 'Location', dbus.ObjectPath(path))
        client.EmitSignal(CLIENT_IFACE, 'LocationUpdated', 'oo', [old, dbus.ObjectPath(path)])
    return False  # as a GLib source: once


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='o')
def GetClient(self):
    state = self.geoclue
    if state['deny']:
        raise dbus.exceptions.DBusException('Access denied by the test',
                                            name='org.freedesktop.DBus.Error.AccessDenied')
    if state['no_agent']:
        print('GetClient held', flush=True)
        time.sleep(30)  # no agent to ask: the caller's timeout must end this
    if CLIENT_OBJ not in mockobject.objects:
        self.AddObject(CLIENT_OBJ, CLIENT_IFACE, {
            'Location': dbus.ObjectPath('/'), 'DistanceThreshold': dbus.UInt32(0),
            'TimeThreshold': dbus.UInt32(0), 'DesktopId': '',
            'RequestedAccuracyLevel': dbus.UInt32(0), 'Active': False},
            [('Start', '', '', client_start), ('Stop', '', '', client_stop)])
    return dbus.ObjectPath(CLIENT_OBJ)


def client_start(client):
    client.Set(CLIENT_IFACE, 'Active', True)
    state = manager().geoclue
    state['active'] = True
    if state['initial']:
        GLib.idle_add(lambda: push(*state['initial']))  # after the Start reply


def client_stop(client):
    client.Set(CLIENT_IFACE, 'Active', False)
    manager().geoclue['active'] = False
