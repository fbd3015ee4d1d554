// An effect instance's motion carry: lent to the module for each render
// (ZokaLendMotionCarry), so that a frame continues the time integration an
// earlier frame of the instance left, and a frame late in a clip costs what
// an early one does. Its revisions follow the values the parameters' checkouts
// give, compared at every render with those the last one saw, so that a
// parameter changed in any way (a value set, keyframes, the draft's scale of
// a point) has its sums begun afresh.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "interface/host_records.h"
#include "interface/module_exports.h"

namespace ourhost {

struct ParamSlot;

class MotionCarry {
public:
    explicit MotionCarry(ZokaLendMotionCarryFn lend) : lend_(lend) {}

    // Runs call (one host call into the module) with a copy of the carry lent
    // on this thread, its revisions brought up to date with params (points
    // divided by downsample); the sums the call leaves are kept for the next.
    // Renders of one instance on several threads each take a copy.
    template <typename Call>
    HostError Lent(const std::vector<ParamSlot>& params, int32_t downsample, Call call) {
        ZokaMotionCarry carry = Take(params, downsample);
        HostError result;
        {
            const Lending lending(lend_, &carry);
            result = call();
        }
        Keep(carry);
        return result;
    }

private:
    // A carry lent on this thread for the scope's life, then the one before.
    class Lending {
    public:
        Lending(ZokaLendMotionCarryFn lend, ZokaMotionCarry* carry) : lend_(lend), before_(lend(carry)) {}
        ~Lending() { lend_(before_); }
        Lending(const Lending&) = delete;
        Lending& operator=(const Lending&) = delete;

    private:
        ZokaLendMotionCarryFn lend_;
        ZokaMotionCarry* before_;
    };

    // What the checkouts of one parameter give at every time.
    struct Values {
        HostParamValue value;
        std::map<double, HostParamValue> keys;
        int32_t pointDivisor;
    };

    ZokaMotionCarry Take(const std::vector<ParamSlot>& params, int32_t downsample);
    void Keep(const ZokaMotionCarry& carried);

    ZokaLendMotionCarryFn lend_;
    std::mutex mutex_;  // over carry_ and seen_
    ZokaMotionCarry carry_{};
    std::vector<Values> seen_;  // by host index, at the last render
};

}  // namespace ourhost
