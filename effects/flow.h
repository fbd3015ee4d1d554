// What the animated noise effects integrate once per frame, before their
// bands: the drift of their flow and the phase of their undulation.
#pragma once

#include "host/effect.h"
#include "host/params.h"
#include "host/render_context.h"
#include "host/time_integration.h"

namespace zoka {

struct FlowState {
    Drift offset;      // pixels at the rendered resolution
    double phase = 0;  // radians
};

// The rows of an effect's Flow Speed, Flow Direction and Undulation Speed,
// found by key in its parameter table.
struct FlowRows {
    int speed;
    int direction;
    int undulation;
};

constexpr FlowRows FlowRowsOf(std::span<const ParamDecl> table) {
    return FlowRows{ParamRow(table, "FlowVelocity"), ParamRow(table, "FlowDirection"),
                    ParamRow(table, "PhaseVelocity")};
}

// IntegrateFlow of the speed and direction, then IntegrateAngle of the
// undulation speed; the first failure is returned.
inline int IntegrateFlowState(const Effect& effect, const RenderContext& context,
                              const FlowRows& rows, FlowState& state) {
    const int result =
        IntegrateFlow(context.input, context.output, effect.HostParamIndex(rows.speed),
                      effect.HostParamIndex(rows.direction), state.offset);
    if (result != 0) return result;
    return IntegrateAngle(context.input, context.output, effect.HostParamIndex(rows.undulation),
                          state.phase);
}

// An effect whose noise drifts and undulates: its flow and undulation are
// integrated from time 0 to the frame's time once per frame, before the
// bands, so every frame depends on its time alone.
template <typename Derived>
class FlowingEffect : public Effect {
public:
    int PrepareRender(RenderContext& context) override {
        static constexpr FlowRows kRows = FlowRowsOf(Derived::kParams);
        static_assert(kRows.speed >= 0 && kRows.direction >= 0 && kRows.undulation >= 0,
                      "a flowing effect declares FlowVelocity, FlowDirection and PhaseVelocity");
        return IntegrateFlowState(*this, context, kRows, flow_);
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
