// What the animated noise effects integrate once per frame, before their
// bands: the drift of their flow and the phase of their undulation.
#pragma once

#include "host/effect.h"
#include "host/render_context.h"
#include "noise/time_integration.h"

namespace zoka {

struct FlowState {
    Drift offset;      // pixels at the rendered resolution
    double phase = 0;  // radians
};

// IntegrateFlow of the speed and direction parameters, then IntegrateAngle of
// the undulation speed (the effect's own parameter numbers); the first
// failure is returned.
inline int IntegrateFlowState(const Effect& effect, const RenderContext& context, int speed,
                              int direction, int undulation, FlowState& state) {
    const int result = IntegrateFlow(context.input, context.output, effect.HostParamIndex(speed),
                                     effect.HostParamIndex(direction), state.offset);
    if (result != 0) return result;
    return IntegrateAngle(context.input, context.output, effect.HostParamIndex(undulation),
                          state.phase);
}

// HSB Noise and Swirl: their parameters 7, 8 and 9 are Flow Direction, Flow
// Speed and Undulation Speed, integrated once per frame before the bands.
class FlowingNoiseEffect : public Effect {
public:
    int PrepareRender(RenderContext& context) override {
        return IntegrateFlowState(*this, context, 8, 7, 9, flow_);
    }

protected:
    using Effect::Effect;
    const FlowState& Flow() const { return flow_; }

private:
    FlowState flow_;
};

// The drift applies to a frame of a moving sequence only: a still image (time
// step 0) is drawn undrifted.
inline Drift FrameDrift(const RenderContext& context, const FlowState& state) {
    return context.input->timeStep != 0 ? state.offset : Drift{};
}

}  // namespace zoka
