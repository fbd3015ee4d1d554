// One effect applied to a layer in our host: its parameters (declared by the
// module, with keyframes over time) and the host calls of its life.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interface/host_records.h"
#include "interface/module_exports.h"
#include "ourhost/image.h"
#include "ourhost/motion_carry.h"

namespace ourhost {

class Host;

// One parameter as the module declared it, with its value over time.
struct ParamSlot {
    HostParamDef def{};  // the declaration, holding the value at time 0 or without keys
    std::string checkboxText;
    std::string choices;                      // popup items, '|'-separated
    std::map<double, HostParamValue> keys;    // keyframes by time in seconds
};

// A frame rate as the host's time records hold it: a time scale (ticks per
// second) and the ticks of one frame.
struct FrameRate {
    uint32_t timeScale;
    int32_t frameTicks;
};

// The frame rates our host keeps exactly, and the latest frame it computes:
// parameters that move by themselves are integrated one frame at a time from
// time 0, so a frame's work grows with its number, and its time in ticks must
// fit the 32-bit time record.
inline constexpr double kMinFps = 0.001;
inline constexpr double kMaxFps = 1000;
inline constexpr double kMaxFrameNumber = 1000000;

// The NTSC rates (29.97, 23.976, 59.94 ...) become n * 1000 / 1001; others
// are kept to a thousandth of a frame per second. Rates outside kMinFps to
// kMaxFps are taken as the nearest of them, and a rate that is not a number
// as 30.
FrameRate RateOf(double fps);

// Why a frame's time or rate cannot be used ("--time must be ..."), or empty.
std::string TimeRefusal(double seconds, double fps);

// The largest magnitude of a 16.16 value a user may give.
inline constexpr double kMaxFixedMagnitude = 32767;
// A 16.16 value, saturated at the ends of its range; not-a-number gives 0.
HostFixed FixedFromDouble(double value);

// Our host's own code for a frame whose output it cannot make.
inline constexpr HostError kHostErrorFrameTooLarge = kHostErrorBase + 3;

// When and at what resolution a frame is computed.
struct FrameOptions {
    double time = 0;         // seconds
    double fps = 30;
    bool still = false;      // a still image: the frame's time step is 0
    int32_t downsample = 1;  // render at 1/downsample of the size
    // The input is already at the frame's resolution (an earlier effect's
    // draft output), so only the selection is shrunk.
    bool inputIsDraft = false;
};

// What a rendered frame came to.
struct FrameResult {
    HostError code = kHostNoError;
    Image image;
    int32_t originX = 0;  // where the input's top-left pixel lies in image
    int32_t originY = 0;
    std::string message;  // the module's message buffer, or our host's refusal
    bool displayError = false;
};

// Where a frame's output lies: its size, and where the input's top-left
// pixel lies in it.
struct FrameArea {
    HostError code = kHostNoError;
    int32_t width = 0;
    int32_t height = 0;
    int32_t originX = 0;
    int32_t originY = 0;
    std::string message;  // the module's message buffer, or our host's refusal
};

class EffectInstance {
public:
    EffectInstance(Host& host, EffectEntryPoint entry);

    // One raw host call with the records as they stand.
    HostError Call(int32_t command, HostLayer* output = nullptr, void* extra = nullptr);
    HostInputRecord& Input() { return in_; }
    HostOutputRecord& Output() { return out_; }

    // The command sequence. Each clears the flags and message first, as the
    // host prepares its records.
    HostError About(std::string& text);
    HostError GlobalSetup();
    HostError SetupParams();
    HostError SequenceSetup();
    HostError SequenceResetup();
    HostError SequenceSetdown();
    HostError FrameSetup(const Image& input, const FrameOptions& options);
    HostError Render(const Image& input, Image& output, const FrameOptions& options);
    HostError FrameSetdown();
    HostError GlobalSetdown();
    HostError Event(void* extra);

    // Frame setup, render and frame setdown of one frame, the output sized
    // as the effect asked (only an effect that expands its output may change
    // it). The input and the selection are shrunk first when drafting.
    FrameResult RenderFrame(const Image& input, const FrameOptions& options);
    // Frame setup and setdown alone, as RenderFrame runs them, at each of
    // the times: what each frame's output would be, without rendering. Stops
    // after the first frame that fails.
    std::vector<FrameArea> FrameAreas(const Image& input, FrameOptions options,
                                      const std::vector<double>& times);

    // From now on, renders lend the module this instance's motion carry
    // through lend (the module's ZokaLendMotionCarry), so that frames in
    // increasing time continue the last one's time integration instead of
    // integrating from 0, with the same pixels; null (or a module without
    // the export) renders every frame from 0, as the host does.
    void CarryMotion(ZokaLendMotionCarryFn lend);
    bool CarriesMotion() const { return motion_ != nullptr; }

    // From global setup.
    uint32_t Version() const { return version_; }
    int32_t GlobalFlags() const { return globalFlags_; }

    // Parameters: index 0 is the input layer, the module's follow.
    std::vector<ParamSlot>& Params() { return params_; }
    // The selection layer ("Alpha Layer") and where its top-left corner lies.
    void SetSelection(const Image& selection, double originX, double originY);
    void ClearSelection() { selection_.reset(); }

    // Callback bodies.
    HostError Checkout(int32_t index, int32_t time, int32_t timeStep, uint32_t timeScale,
                       HostParamDef* param);
    HostError Checkin(HostParamDef* param);
    HostError AddParam(int32_t index, HostParamDef* param);
    HostError Abort();

    // The number of parameters checked out and not yet checked in.
    int32_t OutstandingCheckouts() const { return outstanding_.load(); }

    // Sets the input record's time and downsample fields for a frame, as the
    // frame commands do.
    void PrepareTime(const FrameOptions& options);

private:
    // The image a frame renders into.
    Image OutputImage(int32_t width, int32_t height) const;
    // A rectangle in the input's coordinates, of any size.
    struct Area {
        int64_t left = 0, top = 0, right = 0, bottom = 0;
    };

    // The module refuses a frame no host layer holds (a selection layer
    // placed far out can ask for one) with the code it gives when memory
    // runs out, and says nothing of its size. After frame setup failed so,
    // our host's refusal of a frame too large, with the size it would have
    // been (true); nothing changes when the frame is one our host would
    // make, since then the module did run out of memory.
    bool TellFrameTooLarge(const Image& draft, const FrameOptions& options, HostError& code,
                           std::string& message);
    // The output frame setup would give with the selection where it is,
    // found from frames with the selection moved to where they can be made:
    // the selection's area moves with it, and on a 1x1 input frame setup
    // gives that area alone once the area covers the input's pixel. Nothing
    // when those frames cannot be made either.
    std::optional<Area> OutputWithSelection(const Image& draft, const FrameOptions& options);
    // Frame setup on a 1x1 input with the selection moved by whole pixels:
    // where its output lies; false when it fails.
    bool SelectionArea(const FrameOptions& options, int64_t moveX, int64_t moveY, Area& area);
    // The input and selection at the frame's resolution.
    const Image& Draft(const Image& input, const FrameOptions& options, Image& shrunk);
    HostParamDef ValueAt(size_t index, double seconds) const;
    void PrepareParams(const HostLayer& input, double seconds);
    HostError CallClean(int32_t command, HostLayer* output = nullptr, void* extra = nullptr);

    Host& host_;
    EffectEntryPoint entry_;
    HostInputRecord in_{};
    HostOutputRecord out_{};
    std::vector<ParamSlot> params_;
    std::vector<HostParamDef> current_;      // the values of one call
    std::vector<HostParamDef*> paramList_;
    std::unique_ptr<MotionCarry> motion_;  // when renders carry their motion
    std::optional<Image> selection_;
    Image draftSelection_;
    HostLayer selectionLayer_{};
    int32_t downsample_ = 1;
    uint32_t version_ = 0;
    int32_t globalFlags_ = 0;
    std::atomic<int32_t> outstanding_ = 0;  // checkouts may come from the module's workers
};

}  // namespace ourhost
