import os
from typing import Any, Iterable, Literal, Optional, TypeVar, Union

_Frame = TypeVar("_Frame")  # a pandas or a Dask data frame
_System = Literal["wgs84", "gcj02", "bd09"]

EVENT_COLUMNS: list[str]

def convert(frame: _Frame, lat: str = ..., lng: str = ..., src: _System = ..., dst: _System = ...,
            inverse: Literal["iterative", "search"] = ...) -> _Frame: ...
def convert_files(pattern_or_list: Union[str, Iterable[Union[str, os.PathLike[str]]]],
                  out_dir: Union[str, os.PathLike[str]],
                  **options: Any) -> dict[str, dict[str, Any]]: ...
def geofence(frame: Any, fences: Union[str, os.PathLike[str]], by: str = ..., time: str = ...,
             lat: str = ..., lng: str = ..., accuracy: Optional[str] = ...,
             datum: _System = ...) -> Any: ...
def reverse_geocode(frame: _Frame, lat: str = ..., lng: str = ..., *, key: str,
                    service: Optional[str] = ..., ca_file: Optional[str] = ..., rate: float = ...,
                    concurrency: int = ..., **options: Any) -> _Frame: ...
def geocode(frame: _Frame, address: str = ..., city: str = ..., *, key: str,
            service: Optional[str] = ..., ca_file: Optional[str] = ..., rate: float = ...,
            concurrency: int = ..., **options: Any) -> _Frame: ...
