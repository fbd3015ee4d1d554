// zoka._zoka, the Python module's C++ half: arrays checked and converted,
// requests served (request.h), failures raised as Failure(status, code,
// line) for zoka/__init__.py to turn into its exceptions. The GIL is
// released around every conversion and every call into the module.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/footage.h"
#include "images/image_files.h"
#include "python/layers.h"
#include "python/request.h"

namespace py = pybind11;

namespace zoka_python {

namespace {

// An array of one of the layouts the module takes, and that layout.
struct CheckedArray {
    py::array array;
    ArrayLayout layout;
};

std::string ShapeText(const py::array& array) {
    std::string text = "(";
    for (py::ssize_t i = 0; i < array.ndim(); ++i) text += (i == 0 ? "" : ", ") + std::to_string(array.shape(i));
    return text + (array.ndim() == 1 ? ",)" : ")");
}

// Refuses, with a message naming what is wrong, anything but a C-contiguous
// height x width x 4 or x 3 array of uint8, uint16 or float32 that a layer
// can hold.
CheckedArray Checked(const py::object& object, const std::string& what) {
    if (!py::isinstance<py::array>(object)) {
        throw py::type_error(what + " must be a numpy array (height x width x 4 or x 3) or a Pillow image, not " +
                             std::string(py::str(py::type::of(object).attr("__name__"))));
    }
    CheckedArray checked{py::reinterpret_borrow<py::array>(object), {}};
    const py::array& array = checked.array;
    const py::dtype type = array.dtype();
    if (type.equal(py::dtype::of<uint8_t>())) {
        checked.layout.type = SampleType::kUint8;
    } else if (type.equal(py::dtype::of<uint16_t>())) {
        checked.layout.type = SampleType::kUint16;
    } else if (type.equal(py::dtype::of<float>())) {
        checked.layout.type = SampleType::kFloat32;
    } else {
        throw py::type_error(what + " must hold uint8, uint16 or float32 samples (in this machine's byte order), not " +
                             std::string(py::repr(type)));
    }
    if (array.ndim() != 3 || (array.shape(2) != 3 && array.shape(2) != 4)) {
        throw py::value_error(what + " must be height x width x 4 (RGBA) or x 3 (RGB), not of shape " +
                              ShapeText(array));
    }
    const int64_t height = array.shape(0), width = array.shape(1);
    if (height == 0 || width == 0) throw py::value_error(what + " is empty: its shape is " + ShapeText(array));
    if (!ourhost::SizeAllowed(width, height)) {
        throw py::value_error(what + " is " + std::to_string(width) + "x" + std::to_string(height) +
                              " pixels; layers go up to " + std::to_string(ourhost::kMaxImageSide) +
                              " pixels on a side and " + std::to_string(ourhost::kMaxImagePixels) + " pixels in all");
    }
    if ((array.flags() & py::array::c_style) == 0) {
        throw py::value_error(what + " is not C-contiguous (a view with strides, or in Fortran order): pass "
                                     "numpy.ascontiguousarray(" + what + ")");
    }
    if ((array.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_) == 0) {
        throw py::value_error(what + " is not aligned for its samples: pass a copy, " + what + ".copy()");
    }
    checked.layout.height = static_cast<int32_t>(height);
    checked.layout.width = static_cast<int32_t>(width);
    checked.layout.channels = static_cast<int>(array.shape(2));
    return checked;
}

// The layer of an array, converted without the GIL (the array, referenced,
// stays alive).
ourhost::Image LayerOf(const CheckedArray& checked) {
    const void* samples = checked.array.data();
    py::gil_scoped_release released;
    return LayerOfSamples(samples, checked.layout);
}

// The result as an array of the input's sample type: RGB when the input was
// and the result is opaque (as zoka render writes files), else RGBA. An
// 8-bit RGBA array is the layer's own storage, reordered in place.
py::array ArrayOf(ourhost::Image image, const ArrayLayout& input) {
    ArrayLayout layout = input;
    layout.height = image.Height();
    layout.width = image.Width();
    const std::vector<py::ssize_t> rgba{layout.height, layout.width, 4};
    if (layout.type == SampleType::kUint8 && layout.channels == 4) {
        {
            py::gil_scoped_release released;
            ReorderToRgba(image);
        }
        auto* owner = new ourhost::Image(std::move(image));
        const py::capsule ownership(owner, [](void* pointer) { delete static_cast<ourhost::Image*>(pointer); });
        return py::array_t<uint8_t>(rgba, owner->Data(), ownership);
    }
    if (layout.channels == 3) {
        py::gil_scoped_release released;
        layout.channels = zoka_images::Opaque(image) ? 3 : 4;
    }
    const std::vector<py::ssize_t> shape{layout.height, layout.width, layout.channels};
    py::array result;
    switch (layout.type) {
        case SampleType::kUint8: result = py::array_t<uint8_t>(shape); break;
        case SampleType::kUint16: result = py::array_t<uint16_t>(shape); break;
        case SampleType::kFloat32: result = py::array_t<float>(shape); break;
    }
    void* samples = result.mutable_data();
    py::gil_scoped_release released;
    SamplesOfLayer(image, layout, samples);
    return result;
}

// A request as Python holds it: with the input's layout, which the frames
// come back in.
struct PyRequest {
    std::unique_ptr<Request> request;
    ArrayLayout input;
};

std::unique_ptr<PyRequest> OpenRequest(const std::vector<std::pair<std::string, std::vector<std::string>>>& steps,
                                       const py::object& image, double fps, bool still, int64_t downsample,
                                       const py::object& selection, const std::string& selectionOrigin,
                                       const std::string& canvas, uint64_t failAllocation, uint64_t cancelAtPoll) {
    const CheckedArray input = Checked(image, "image");
    std::optional<CheckedArray> selected;
    if (!selection.is_none()) selected = Checked(selection, "selection");
    std::vector<Step> chain;
    for (const auto& [effect, sets] : steps) chain.push_back({effect, sets});
    FrameSpec spec{fps, still, downsample, selectionOrigin, canvas, failAllocation, cancelAtPoll};
    ourhost::Image layer = LayerOf(input);
    std::optional<ourhost::Image> selectionLayer;
    if (selected) selectionLayer = LayerOf(*selected);
    py::gil_scoped_release released;
    auto opened = std::make_unique<PyRequest>();
    opened->input = input.layout;
    opened->request = std::make_unique<Request>(chain, spec, std::move(layer),
                                                selectionLayer ? &*selectionLayer : nullptr);
    return opened;
}

// How long this thread's last frame took to render and place, without the
// conversions and calls around it: what the benchmark sets a call against.
thread_local double tLastRenderSeconds = 0;

py::tuple RenderFrame(PyRequest& self, double time) {
    zoka_cli::PlacedFrame placed;
    {
        py::gil_scoped_release released;
        placed = self.request->Render(time);
        tLastRenderSeconds = self.request->LastRenderTime().count();
    }
    py::array image = ArrayOf(std::move(placed.image), self.input);
    return py::make_tuple(image, py::make_tuple(-placed.canvas.x, -placed.canvas.y));
}

py::tuple HoldAll(PyRequest& self, const std::vector<double>& times) {
    zoka_cli::CanvasRect whole;
    {
        py::gil_scoped_release released;
        whole = self.request->HoldAll(times);
    }
    return py::make_tuple(whole.width, whole.height, whole.x, whole.y);
}

void CloseRequest(PyRequest& self) {
    py::gil_scoped_release released;
    self.request->Close();
}

py::list EffectsList() {
    std::vector<EffectSummary> effects;
    {
        py::gil_scoped_release released;
        effects = SummariseEffects();
    }
    py::list list;
    for (const EffectSummary& e : effects) list.append(py::make_tuple(e.name, e.key, e.index, e.registered, e.moves));
    return list;
}

std::string ParamsOf(const std::string& effect, const std::vector<std::string>& sets) {
    py::gil_scoped_release released;
    return ParamsJson(effect, sets);
}

void Load(const std::string& path) {
    py::gil_scoped_release released;
    LoadModule(path);
}

// Each frame's time as zoka animate gives it: frame n at n / fps, or
// counted from the first (the smallest) at start.
std::vector<double> FrameTimes(const std::vector<int32_t>& frames, double fps, std::optional<double> start) {
    std::vector<double> times;
    if (frames.empty()) return times;
    const int32_t first = *std::min_element(frames.begin(), frames.end());
    for (const int32_t n : frames) times.push_back(zoka_cli::FrameTime(n, fps, start, first));
    return times;
}

py::dict CallsNow() {
    const CallCounts calls = Calls();
    py::dict counts;
    counts["inside"] = calls.inside;
    counts["most_inside"] = calls.mostInside;
    return counts;
}

py::dict LeftoversSoFar() {
    const Leftovers left = LeftSoFar();
    py::dict counts;
    counts["handles"] = left.handles;
    counts["faults"] = left.faults;
    counts["requests"] = left.requests;
    return counts;
}

}  // namespace

}  // namespace zoka_python

PYBIND11_MODULE(_zoka, m) {
    using namespace zoka_python;
    m.doc() = "The C++ half of the zoka module; use zoka, not this.";

    // Failure(status, code, line): zoka/__init__.py raises its own
    // exceptions from these.
    static const py::handle failure = py::exception<Failure>(m, "Failure").release();
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const Failure& f) {
            PyErr_SetObject(failure.ptr(), py::make_tuple(f.status, f.code, f.what()).ptr());
        }
    });

    m.attr("version") = ZOKA_VERSION;
    m.def("load", &Load, py::arg("module_path"));
    m.def("frame_times", &FrameTimes, py::arg("frames"), py::arg("fps"), py::arg("start"));
    m.def("effects", &EffectsList);
    m.def("params_json", &ParamsOf, py::arg("effect"), py::arg("sets"));
    m.def("leftovers", &LeftoversSoFar);
    m.def("calls", &CallsNow);

    py::class_<PyRequest>(m, "Request")
        .def(py::init(&OpenRequest), py::arg("steps"), py::arg("image"), py::kw_only(), py::arg("fps"),
             py::arg("still"), py::arg("downsample"), py::arg("selection"), py::arg("selection_origin"),
             py::arg("canvas"), py::arg("fail_allocation") = 0, py::arg("cancel_at_poll") = 0)
        .def("render", &RenderFrame, py::arg("time"))
        .def("hold_all", &HoldAll, py::arg("times"))
        .def("close", &CloseRequest);
    m.def("last_render_seconds", [] { return tLastRenderSeconds; });
}
