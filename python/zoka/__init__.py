"""The Lumetta effects of ZOKA-ENG for numpy arrays and Pillow images.

    import numpy as np
    import zoka

    layer = np.zeros((120, 160, 4), np.uint8)
    layer[30:90, 40:120] = (255, 128, 0, 255)
    glowing, origin = zoka.render("Glow", layer, Width=20, Color="white")
    # glowing is 202 x 162 pixels: the glow grew the layer by 21 pixels on
    # every side, and origin == (21, 21) is where the layer's top-left lies.

Every call drives the effects module through our host as `zoka render`
and `zoka animate` do, and gives the same pixels and origins as they write:
  effects()            the effects: name, key, index, registered, moves
  params(effect)       an effect's parameters, as `zoka params --json` prints
  render(effect, img)  one frame; see help(zoka.render) for every setting
  animate(...)         a generator of frames over a range, as zoka animate
  chain(...)           several effects in order, as --then
  range_canvas(...)    the canvas zoka animate gives a range, for frames
                       rendered apart (one per task on a cluster)
Failures raise RequestError (a ValueError: an unknown effect, a value out of
its range ...) or RenderError (a RuntimeError; OutOfMemory, also a
MemoryError, when memory ran out), with the command line's one line.

Renders from several Python threads run at once, and each frame's bands use
the machine's cores. The GIL is released while a frame renders, so other
Python threads run meanwhile; several processes (see the Dask recipe in the
README) spread frames over machines.
"""

from __future__ import annotations

import dataclasses
import json
import numbers
import os
import sys
from typing import TYPE_CHECKING, Any, Iterable, Iterator, Mapping, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np

if TYPE_CHECKING:
    import PIL.Image

from . import _location
from . import _zoka

__all__ = [
    "Error", "RequestError", "RenderError", "OutOfMemory",
    "Effect", "Frame", "AnimationFrame", "Chain",
    "effects", "params", "render", "animate", "chain", "range_canvas",
]

__version__: str = _zoka.version


class Error(Exception):
    """A request zoka refused or a render that failed.

    The message is the command line's one line (without "zoka: "); status
    is the exit status zoka would give (1: the module failed or memory ran
    out, 2: the request was wrong) and code the module's result code, or 0.
    """

    def __init__(self, message: str, status: int, code: int = 0) -> None:
        super().__init__(message)
        self.status = status
        self.code = code


class RequestError(Error, ValueError):
    """The request was wrong: an unknown effect or parameter, a value outside
    its range, a time, rate, origin or canvas the host cannot hold."""


class RenderError(Error, RuntimeError):
    """The module failed to render (its message and result code), or the
    output would be larger than a layer can be."""


class OutOfMemory(RenderError, MemoryError):
    """The module ran out of memory (result code 8)."""


_SYSTEM_OUT_OF_MEMORY = 8
_USAGE_ERROR = 2


def _raised(failure: Exception) -> Error:
    status, code, line = failure.args
    if status == _USAGE_ERROR:
        return RequestError(line, status, code)
    if code == _SYSTEM_OUT_OF_MEMORY:
        return OutOfMemory(line, status, code)
    return RenderError(line, status, code)


def _module_path() -> str:
    given = os.environ.get("ZOKA_MODULE")
    if given:
        return given
    return os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), _location.MODULE))


try:
    _zoka.load(_module_path())
except _zoka.Failure as failure:
    raise ImportError("zoka: " + failure.args[2]) from None


# ---- What the module holds ------------------------------------------------

class Effect(NamedTuple):
    """An effect of the module, as `zoka list` shows it."""

    name: str         # the name hosts show, "Gaussian Blur"
    key: str          # "GaussianBlur"; either names it in every call
    index: int        # its index in the module
    registered: bool  # whether hosts list it (it has a PiPL resource)
    moves: bool       # whether its output changes with time alone


def effects() -> list[Effect]:
    """Every effect the module has code for, in index order."""
    return [Effect(*entry) for entry in _zoka.effects()]


def params(effect: str, **settings: Any) -> list[dict[str, Any]]:
    """An effect's parameters, as `zoka params EFFECT --json` prints them:
    number, hostIndex, key, label, kind, default and value, with the
    ranges ("slider", "valid"), "items" or "checkboxText" each kind has.

    Settings given as in render() show in each entry's "value". The list,
    each "value" as it is, is also a preset for `zoka render --preset`.
    """
    sets = _settings(settings)
    try:
        return json.loads(_zoka.params_json(_name(effect), sets))
    except _zoka.Failure as failure:
        raise _raised(failure) from None


# ---- Settings ---------------------------------------------------------------

def _name(effect: Any) -> str:
    if not isinstance(effect, str):
        raise TypeError(f"an effect is named by its name or key (a str), not {type(effect).__name__}")
    return effect


def _value_text(name: str, value: Any) -> str:
    if isinstance(value, (bool, np.bool_)):
        return "on" if value else "off"
    if isinstance(value, numbers.Integral):
        return str(int(value))
    if isinstance(value, numbers.Real):
        return repr(float(value))
    if isinstance(value, str):
        return value
    if isinstance(value, (tuple, list)) and len(value) in (2, 3) and all(
            isinstance(v, numbers.Real) and not isinstance(v, (bool, np.bool_)) for v in value):
        return ",".join(_value_text(name, v) for v in value)
    raise TypeError(f"{name} takes a number, a bool, a str, an (x, y) point or an (r, g, b) colour, "
                    f"or keyframes {{seconds: value}}; not {type(value).__name__}")


def _when_text(name: str, when: Any) -> str:
    if isinstance(when, str):
        return when  # as --set takes it: "12f" is frame 12
    if isinstance(when, numbers.Real) and not isinstance(when, (bool, np.bool_)):
        return repr(float(when))
    raise TypeError(f"{name}'s keyframes are {{seconds: value}}, not a key of type {type(when).__name__}")


def _setting(name: str, value: Any) -> str:
    """One setting as --set takes it: KEY=VALUE, or KEY=VALUE@SECONDS;..."""
    if isinstance(value, Mapping):
        keys = [f"{_value_text(name, v)}@{_when_text(name, t)}" for t, v in value.items()]
        if not keys:
            raise ValueError(f"{name}: keyframes {{seconds: value}} need one key at least")
        return f"{name}=" + ";".join(keys)
    return f"{name}={_value_text(name, value)}"


def _settings(settings: Mapping[str, Any]) -> list[str]:
    return [_setting(str(name), value) for name, value in settings.items()]


@dataclasses.dataclass(frozen=True)
class Chain:
    """Several effects applied in order, each to the result of the one
    before, as `zoka render --then` applies them; made by zoka.chain()."""

    steps: Tuple[Tuple[str, Tuple[str, ...]], ...]


def chain(*effects: Union[str, Tuple[str, Mapping[str, Any]]]) -> Chain:
    """Effects in order, for render() and animate() to apply as --then does.

    Each is a name or key, or (name, {setting: value}):

        glow_then_blur = zoka.chain(("Glow", {"Width": 40}), ("Gaussian Blur", {"Width": 5}), "Squint")
        frame, origin = zoka.render(glow_then_blur, layer)

    The settings given to render() itself go to the first effect, after its
    own, and the selection layer is the first effect's. The layer's origin
    moves by each effect's growth; at a downsample only the input is shrunk.
    """
    if not effects:
        raise ValueError("zoka.chain takes one effect at least")
    steps = []
    for step in effects:
        if isinstance(step, tuple) and len(step) == 2 and isinstance(step[1], Mapping):
            steps.append((_name(step[0]), tuple(_settings(step[1]))))
        else:
            steps.append((_name(step), ()))
    return Chain(tuple(steps))


def _steps(effect: Union[str, Chain], settings: Mapping[str, Any]) -> list[Tuple[str, list[str]]]:
    given = _settings(settings)
    if isinstance(effect, Chain):
        first, *rest = effect.steps
        return [(first[0], list(first[1]) + given)] + [(name, list(sets)) for name, sets in rest]
    return [(_name(effect), given)]


# ---- Images -------------------------------------------------------------------

ImageLike = Union[np.ndarray, "PIL.Image.Image"]


def _pillow_module() -> Any:
    # Only a program that made a Pillow image has Pillow loaded.
    return sys.modules.get("PIL.Image")


def _as_array(image: Any) -> Tuple[Any, Optional[str]]:
    """The image as an array, and the Pillow mode it came in (or None)."""
    pillow = _pillow_module()
    if pillow is None or not isinstance(image, pillow.Image):
        return image, None
    mode = "RGBA" if image.mode in ("RGBA", "LA", "PA", "RGBa", "La") or "transparency" in image.info else "RGB"
    return np.asarray(image if image.mode == mode else image.convert(mode)), mode


def _returned(array: np.ndarray, mode: Optional[str]) -> ImageLike:
    if mode is None:
        return array
    return _pillow_module().fromarray(array, "RGBA" if array.shape[2] == 4 else "RGB")


def _point_text(name: str, point: Any) -> str:
    if (not isinstance(point, (tuple, list)) or len(point) != 2
            or not all(isinstance(v, numbers.Real) and not isinstance(v, (bool, np.bool_)) for v in point)):
        raise TypeError(f"{name} takes (x, y), not {point!r}")
    return _value_text(name, point)


def _canvas_text(canvas: Any) -> str:
    if canvas is None:
        return ""
    if isinstance(canvas, str):
        return canvas
    if (isinstance(canvas, (tuple, list)) and len(canvas) == 4
            and all(isinstance(v, numbers.Integral) for v in canvas)):
        width, height, x, y = (int(v) for v in canvas)
        return f"{width}x{height}{x:+d}{y:+d}"
    raise TypeError(f'canvas takes "grown", "input", "WxH+X+Y" or (width, height, x, y), not {canvas!r}')


def _number(name: str, value: Any) -> float:
    if not isinstance(value, numbers.Real) or isinstance(value, bool):
        raise TypeError(f"{name} takes a number, not {type(value).__name__}")
    return float(value)


def _whole(name: str, value: Any) -> int:
    if not isinstance(value, numbers.Integral) or isinstance(value, bool):
        raise TypeError(f"{name} takes a whole number, not {type(value).__name__}")
    return int(value)


def _open(effect: Union[str, Chain], image: Any, settings: Mapping[str, Any], *, fps: Any, still: Any,
          downsample: Any, selection: Any, selection_origin: Any, canvas: Any,
          failures: Tuple[int, int] = (0, 0)) -> Any:
    steps = _steps(effect, settings)
    array, mode = _as_array(image)
    selected = None if selection is None else _as_array(selection)[0]
    try:
        request = _zoka.Request(steps, array, fps=_number("fps", fps), still=bool(still),
                                downsample=_whole("downsample", downsample), selection=selected,
                                selection_origin=_point_text("selection_origin", selection_origin),
                                canvas=_canvas_text(canvas), fail_allocation=failures[0],
                                cancel_at_poll=failures[1])
    except _zoka.Failure as failure:
        raise _raised(failure) from None
    return request, mode


def _frame(request: Any, time: float) -> Tuple[np.ndarray, Tuple[int, int]]:
    try:
        return request.render(time)
    except _zoka.Failure as failure:
        raise _raised(failure) from None


# ---- Rendering -----------------------------------------------------------------

class Frame(NamedTuple):
    """A rendered frame: the image, and where the input layer's top-left
    pixel lies in it (x, y), as `zoka render --json` reports originX and
    originY."""

    image: ImageLike
    origin: Tuple[int, int]


class AnimationFrame(NamedTuple):
    """A frame of animate(): its number, the image and the origin."""

    number: int
    image: ImageLike
    origin: Tuple[int, int]


def render(effect: Union[str, Chain], image: ImageLike, *, time: float = 0.0, fps: float = 30.0,
           still: bool = False, downsample: int = 1, selection: Optional[ImageLike] = None,
           selection_origin: Tuple[float, float] = (0, 0), canvas: Union[None, str, Tuple[int, int, int, int]] = None,
           **settings: Any) -> Frame:
    """One frame of an effect (or a chain) on a layer: what `zoka render`
    writes, pixel for pixel, with the same origin.

    effect: a name or key ("Gaussian Blur", "GaussianBlur"; any case), or
        a zoka.chain() of several.
    image: a numpy array, height x width x 4 (RGBA, straight alpha) or x 3
        (RGB: opaque), C-contiguous, of uint8, uint16 or float32; or a
        Pillow image. The effects work on 8 bits: uint16 samples are rounded
        (v * 255 / 65535), float32 ones clamped to 0..1 and rounded, as
        zoka reads 16-bit and float files. The result comes in the input's
        type (8-bit v as v * 257 in uint16, v / 255 in float32), RGB when
        the input was RGB and the result is opaque, else RGBA; a Pillow
        image comes back as one (RGB or RGBA; other modes are converted by
        Pillow first).
    time: the frame's time in seconds, within a million frames of 0.
    fps: frames per second, 0.001 to 1000 (29.97 is 30000/1001); effects
        that move by themselves integrate their speeds frame by frame.
    still: a still image: the frame's time step is 0 (no drift).
    downsample: a draft at 1/N resolution (1 to 64); the layer, the
        selection and its origin are shrunk by N.
    selection: the selection layer ("Alpha Layer") for effects that take
        one, as an array or Pillow image; selection_origin its top-left
        (x, y) in layer pixels.
    canvas: None or "grown" (the layer as the effect grew it), "input" (the
        input's own frame) or "WxH+X+Y" / (width, height, x, y): a canvas
        whose top-left lies at x, y from the input's top-left.
    settings: the effect's parameters by key (Width=40), or by label or
        number through a dict (**{"Width (pixels)": 40}, **{"0": 40}), in
        the units `zoka render --set` takes: numbers, degrees clockwise
        from straight up for angles, True/False or "on"/"off" for
        checkboxes, "#RRGGBB", "#RGB", (r, g, b) or a CSS name for colours,
        an item's text or 1-based number for popups, (x, y) in layer pixels
        for points. Keyframes are a dict {seconds: value} (or
        {"12f": value} for frame 12): numbers, angles, points and colours
        move linearly between keys, checkboxes and popups hold.

    Returns Frame(image, origin), origin being where the input's top-left
    pixel lies in the image.

    Raises RequestError (a ValueError) for an unknown effect or parameter,
    a value outside its range (the message names the parameter and its
    range), a time, rate, origin or canvas the host cannot hold;
    RenderError (a RuntimeError) when the module fails or the output would
    exceed what a layer holds (30000 pixels on a side, 2^27 in all), with
    OutOfMemory (also a MemoryError) when memory runs out; TypeError and
    ValueError for an image of the wrong type, dtype, shape or layout.

    Renders from several threads run at once; the GIL is released meanwhile.
    """
    request, mode = _open(effect, image, settings, fps=fps, still=still, downsample=downsample,
                          selection=selection, selection_origin=selection_origin, canvas=canvas)
    try:
        array, origin = _frame(request, _number("time", time))
    finally:
        request.close()
    return Frame(_returned(array, mode), origin)


def animate(effect: Union[str, Chain], image: ImageLike, frames: Iterable[int], *, fps: float = 30.0,
            start: Optional[float] = None, still: bool = False, downsample: int = 1,
            selection: Optional[ImageLike] = None, selection_origin: Tuple[float, float] = (0, 0),
            canvas: Union[None, str, Tuple[int, int, int, int]] = None,
            **settings: Any) -> Iterator[AnimationFrame]:
    """The frames of a range, one at a time, as `zoka animate` writes them.

    frames: the frame numbers (0 to 1000000), e.g. range(48), yielded in
        the order given. Frame n is at n / fps seconds; with start, the
        smallest is at start and the others follow at 1/fps.
    canvas: by default one canvas for the whole range, holding every frame
        (frame setup is run for each frame first, as zoka animate does), so
        that every frame has one size; "grown", "input" or "WxH+X+Y" as in
        render().

    Everything else is as for render(). The effects are set up once, when
    animate() is called (so a wrong request raises here), and every frame
    is computed from time 0, so the order does not matter. Yields
    AnimationFrame(number, image, origin).
    """
    numbers_given = _frame_numbers(frames)
    times = _frame_times(numbers_given, fps, start)
    request, mode = _open(effect, image, settings, fps=fps, still=still, downsample=downsample,
                          selection=selection, selection_origin=selection_origin, canvas=canvas)
    try:
        if canvas is None and times:
            _hold_all(request, times)
    except BaseException:
        request.close()
        raise
    return _frames(request, mode, numbers_given, times)


def _frame_numbers(frames: Iterable[int]) -> list[int]:
    numbers_given = [_whole("a frame", n) for n in frames]
    for n in numbers_given:
        if not 0 <= n <= 1000000:
            raise ValueError(f"frames are whole numbers from 0 to 1000000, not {n}")
    return numbers_given


def _frame_times(numbers_given: Sequence[int], fps: Any, start: Any) -> list[float]:
    return _zoka.frame_times(numbers_given, _number("fps", fps), None if start is None else _number("start", start))


def _hold_all(request: Any, times: Sequence[float]) -> Tuple[int, int, int, int]:
    try:
        return request.hold_all(times)
    except _zoka.Failure as failure:
        raise _raised(failure) from None


def range_canvas(effect: Union[str, Chain], image: ImageLike, frames: Iterable[int], *, fps: float = 30.0,
                 start: Optional[float] = None, still: bool = False, downsample: int = 1,
                 selection: Optional[ImageLike] = None, selection_origin: Tuple[float, float] = (0, 0),
                 **settings: Any) -> str:
    """The canvas animate() and zoka animate place every frame of the range
    on by default: the smallest that holds every frame, found by frame setup
    alone (cheap beside a render). As "WxH+X+Y", for render(canvas=...):
    frames rendered one by one, anywhere, at time n / fps (or from start)
    are then those of one animate() call. Arguments as for animate()."""
    times = _frame_times(_frame_numbers(frames), fps, start)
    if not times:
        raise ValueError("range_canvas takes one frame at least")
    request, _ = _open(effect, image, settings, fps=fps, still=still, downsample=downsample,
                       selection=selection, selection_origin=selection_origin, canvas=None)
    try:
        return _canvas_text(_hold_all(request, times))
    finally:
        request.close()


def _frames(request: Any, mode: Optional[str], numbers_given: Sequence[int],
            times: Sequence[float]) -> Iterator[AnimationFrame]:
    try:
        for n, time in zip(numbers_given, times):
            array, origin = _frame(request, time)
            yield AnimationFrame(n, _returned(array, mode), origin)
    finally:
        request.close()


# ---- The reference in help(zoka.render), from the module's own tables ------------

def _range_text(param: Mapping[str, Any]) -> str:
    if "valid" in param:
        low, high = param["valid"]
        return f" {low:g} to {high:g}"
    if "items" in param:
        return ": " + ", ".join(param["items"])
    return ""


def _reference() -> str:
    lines = ["", "Effects and their settings (key, label, kind and valid range, default),",
             "as zoka.params(effect) gives them in full:", ""]
    for effect in effects():
        notes = [] if effect.registered else ["not registered"]
        if effect.moves:
            notes.append("moves by itself")
        lines.append(f"{effect.name} ({effect.key}" + "".join(f"; {n}" for n in notes) + ")")
        for param in params(effect.key):
            if param["kind"] == "layer":
                lines.append("    takes a selection layer (selection=, selection_origin=)")
                continue
            if param["number"] is None:
                continue
            key = param["key"] if param["key"] is not None else f'"{param["number"]}"'
            lines.append(f'    {key}: "{param["label"]}", {param["kind"]}{_range_text(param)};'
                         f' default {param["default"]}')
    return "\n".join("    " + line if line else line for line in lines)


render.__doc__ = (render.__doc__ or "") + _reference()
