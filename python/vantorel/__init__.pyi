import os
from typing import Literal

import numpy as np
import numpy.typing as npt

__version__: str

_Look = Literal["classic", "natural"]

_Order = Literal["bgr", "rgb"]
_Picture = npt.NDArray[np.uint8] | npt.NDArray[np.uint16] | npt.NDArray[np.float32]

def dehaze(image: _Picture, thickness: float = 1.0, *,
           look: _Look = "classic", channel_order: _Order = "bgr") -> _Picture: ...
def transmission(image: _Picture, thickness: float = 1.0, *,
                 channel_order: _Order = "bgr") -> npt.NDArray[np.float32]: ...
def set_threads(count: int) -> None: ...
def get_threads() -> int: ...
def dehaze_file(source: str | os.PathLike[str], result: str | os.PathLike[str],
                thickness: float = 1.0, *, look: _Look = "classic", jpeg_quality: int = 95,
                webp_quality: int = 0, png_compression: int = -1,
                strip_metadata: bool = False, depth: Literal[0, 8, 16] = 0) -> bool: ...
