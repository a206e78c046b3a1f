import os
from typing import Literal

import numpy as np
import numpy.typing as npt

__version__: str

_Look = Literal["classic", "natural"]

def dehaze(image: npt.NDArray[np.uint8], thickness: float = 1.0, *,
           look: _Look = "classic") -> npt.NDArray[np.uint8]: ...
def transmission(image: npt.NDArray[np.uint8], thickness: float = 1.0) -> npt.NDArray[np.float32]: ...
def set_threads(count: int) -> None: ...
def get_threads() -> int: ...
def dehaze_file(source: str | os.PathLike[str], result: str | os.PathLike[str],
                thickness: float = 1.0, *, look: _Look = "classic", jpeg_quality: int = 95,
                webp_quality: int = 0, png_compression: int = -1,
                strip_metadata: bool = False) -> bool: ...
