from typing import Any, Optional

class LocationError(str):
    code: str
    domain: str
    status: int
    retry_after: Optional[int]
    _fields: tuple[str, ...]
    def __new__(cls, message: str, code: str, domain: str = ..., status: int = ...,
                retry_after: Optional[int] = ...) -> "LocationError": ...
    @property
    def message(self) -> str: ...
    def to_dict(self) -> dict[str, Any]: ...
