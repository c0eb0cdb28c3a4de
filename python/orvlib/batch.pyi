from typing import Callable, Optional, Sequence, Union

import numpy.typing as npt
import pandas as pd

_Permit = Optional[Callable[[Callable[[], None]], object]]

def reverse_geocode(lat: npt.ArrayLike, lng: npt.ArrayLike, *, key: str,
                    service: Optional[str] = ..., ca_file: Optional[str] = ..., agree: bool = ...,
                    rate: float = ..., burst: float = ..., concurrency: int = ...,
                    attempts: int = ..., timeout: float = ..., permit: _Permit = ...,
                    on_send: Optional[Callable[[], object]] = ...,
        on_answer: Optional[Callable[[], object]] = ...) -> pd.DataFrame: ...
def geocode(addresses: Sequence[str], cities: Union[str, Sequence[str]], *, key: str,
            service: Optional[str] = ..., ca_file: Optional[str] = ..., agree: bool = ...,
            rate: float = ..., burst: float = ..., concurrency: int = ..., attempts: int = ...,
            timeout: float = ..., permit: _Permit = ...,
            on_send: Optional[Callable[[], object]] = ...,
        on_answer: Optional[Callable[[], object]] = ...) -> pd.DataFrame: ...
def track(lat: npt.ArrayLike, lng: npt.ArrayLike, time: npt.ArrayLike, *,
          accuracy: Optional[npt.ArrayLike] = ..., key: str, service: Optional[str] = ...,
          ca_file: Optional[str] = ..., agree: bool = ..., rate: float = ..., burst: float = ...,
          concurrency: int = ..., attempts: int = ..., timeout: float = ...,
          permit: _Permit = ..., on_send: Optional[Callable[[], object]] = ...,
        on_answer: Optional[Callable[[], object]] = ...) -> pd.DataFrame: ...
