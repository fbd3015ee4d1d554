// The operations every concrete effect answers the same way, from what the
// effect class declares:
//   kIndex, kNameId, kDescriptionId  its identity,
//   kParams                           its parameter table,
//   kKey                              its effect key,
//   kBandsAgree                       whether a band split changes no pixel,
//   kSharesRows (optional)            one band whose rows the kernel shares
//                                     among the threads, for bands that agree,
//   Block                             its parameter block (defaults as member
//                                     initialisers), and
//   void ReadBlock(HostParamDef**, Block&) const   filling the block.
#pragma once

#include <iterator>
#include <new>
#include <type_traits>

#include "base/module_memory.h"
#include "host/effect.h"
#include "host/params.h"

namespace zoka {

template <typename Derived, typename Block, typename Base = Effect>
class EffectOf : public Base {
    static_assert(std::is_trivially_destructible_v<Block>, "blocks are freed without a destructor");

public:
    int EffectIndex() const override { return Derived::kIndex; }
    int ParamBlockSize() const override { return static_cast<int>(sizeof(Block)); }
    void InitParamBlock(void* block) const override { *static_cast<Block*>(block) = Block{}; }

    int ParamsSetup(HostInputRecord* in, HostOutputRecord* out, HostParamDef**, HostLayer*,
                    int countSoFar) override {
        return DeclareParams(in, out, Derived::kParams, countSoFar);
    }

    void* ReadParams(HostParamDef** params) override {
        void* storage = HostAlloc(sizeof(Block));
        if (storage == nullptr) return nullptr;
        auto* block = new (storage) Block;
        this->InitParamBlock(block);
        static_cast<const Derived*>(this)->ReadBlock(params, *block);
        return block;
    }

    void ParamKey(int number, KeyText& key) const override {
        CopyParamKey(Derived::kParams, number, key);
    }
    void EffectKey(KeyText& key) const override { CopyKey(Derived::kKey, key); }

protected:
    EffectOf()
        : Base(static_cast<int>(std::size(Derived::kParams)), Derived::kNameId,
               Derived::kDescriptionId) {
        this->DeclareBandsAgree(Derived::kBandsAgree);
        if constexpr (requires { Derived::kSharesRows; }) {
            static_assert(Derived::kBandsAgree, "a kernel shares the rows of bands that agree");
            this->DeclareSharesRows(Derived::kSharesRows);
        }
    }
};

}  // namespace zoka
