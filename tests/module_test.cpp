// The module file as the host meets it: its exports, its resources, its
// strings, and every entry point through every command of an effect's life.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/effect_factory.h"
#include "host/module_instance.h"
#include "host/res_string.h"
#include "platform/platform.h"
#include "resources/module_pipls.h"
#include "resources/string_table.h"
#include "tests/support/module_memory_scope.h"
#include "tests/support/module_under_test.h"

namespace zoka {
namespace {

using ourhost::EffectInstance;
using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;

// Runs the commands of an effect's life in host order and checks that no
// call leaves a handle behind.
void LiveThroughLife(ourhost::Host& host, EffectInstance& instance, const std::string& name) {
    const Image layer(16, 12, Pixel{255, 90, 120, 200});
    std::string text;
    const auto step = [&](const char* what, HostError result) {
        EXPECT_TRUE(result == kHostNoError || std::string(what) == "render")
            << name << ": " << what << " gave " << result;
        EXPECT_EQ(host.LiveHandles(), 0u) << name << ": " << what;
    };
    step("about", instance.About(text));
    step("global setup", instance.GlobalSetup());
    step("params setup", instance.SetupParams());
    step("sequence setup", instance.SequenceSetup());
    step("sequence resetup", instance.SequenceResetup());
    const ourhost::FrameResult frame = instance.RenderFrame(layer, FrameOptions{});
    step("render", frame.code);
    step("sequence setdown", instance.SequenceSetdown());
    step("global setdown", instance.GlobalSetdown());
    EXPECT_TRUE(host.Faults().empty()) << name << ": " << host.Faults().front();
}

TEST(ModuleLife, EveryEntryPointRunsEveryCommandWithoutLeaking) {
    for (const RegisteredEffect& registered : RegisteredEffects()) {
        const auto entry = zoka_test::LoadedModule().EntryPoint(registered.entryName);
        ASSERT_NE(entry, nullptr) << registered.entryName;
        ourhost::Host host;
        EffectInstance instance(host, entry);
        LiveThroughLife(host, instance, registered.entryName);
    }
}

TEST(ModuleLife, DropShadowRunsWithoutStringsForItsName) {
    ourhost::Host host;
    EffectInstance shadow(host, zoka_test::LoadedModule().EntryPoint("Drop_Shadow_Entry_Point"));
    std::string text;
    ASSERT_EQ(shadow.About(text), kHostNoError);
    EXPECT_EQ(text, ", v3.1(38) Release \r\r");
    ASSERT_EQ(shadow.SetupParams(), kHostNoError);
    EXPECT_STREQ(shadow.Params()[3].def.name, "Shadow Direction");
    EXPECT_STREQ(shadow.Params()[8].def.name, "Draw Everywhere");
    EXPECT_EQ(shadow.Params()[8].checkboxText, "Draw Everywhere");
}

TEST(ModuleResources, PiplBytesFollowTheHostsLayout) {
    const auto pipls = ModulePipls();
    ASSERT_EQ(pipls.size(), 20u);
    const PiplResource& antimatter = pipls.front();
    EXPECT_EQ(antimatter.id, 16000);
    const std::vector<uint8_t>& d = antimatter.data;
    const uint8_t header[] = {1, 0, 0, 0, 0, 0, 11, 0, 0, 0};
    ASSERT_GT(d.size(), 40u);
    EXPECT_EQ(std::memcmp(d.data(), header, sizeof header), 0);
    EXPECT_EQ(std::memcmp(d.data() + 10, "MIB8dnik", 8), 0);
    const uint8_t kindData[] = {0, 0, 0, 0, 4, 0, 0, 0, 'T', 'K', 'F', 'e'};
    EXPECT_EQ(std::memcmp(d.data() + 18, kindData, sizeof kindData), 0);
    // "name": a length byte, "Antimatter", padded to 12 bytes.
    EXPECT_EQ(std::memcmp(d.data() + 30, "MIB8eman", 8), 0);
    EXPECT_EQ(d[42], 12);
    EXPECT_EQ(d[46], 10);
    EXPECT_EQ(std::memcmp(d.data() + 47, "Antimatter\0", 11), 0);
    EXPECT_EQ(d.size() % 4, 2u);  // every property padded to 4 after the 10-byte header
    for (const PiplResource& p : pipls) EXPECT_NE(p.id, 16004) << "Drop Shadow has no PiPL";
}

TEST(ModuleResources, TheKeyQueryNeedsNoHostCall) {
    const auto keys = zoka_test::LoadedModule().Keys("Chrome_Entry_Point");
    ASSERT_TRUE(keys.has_value());
    EXPECT_EQ(keys->effectIndex, 2);
    EXPECT_STREQ(keys->effectKey, "Chrome");
    EXPECT_EQ(keys->paramCount, 7);
    EXPECT_STREQ(keys->paramKeys[2], "Contrast");
    EXPECT_STREQ(keys->paramKeys[3], "");  // Bands has no key
    EXPECT_FALSE(zoka_test::LoadedModule().Keys("No_Entry_Point").has_value());
}

TEST(StringTable, TheLoaderCopiesAtMostOneLessThanItsBufferAndATerminator) {
    char buffer[10];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(platform::LoadResourceString(ModuleInstance, 21002, buffer, 10), 9);
    EXPECT_STREQ(buffer, "Alters br");
    EXPECT_EQ(platform::LoadResourceString(ModuleInstance, 24500, buffer, 10), 0);
}

TEST(StringTable, AResStringHoldsTwoLessThanItsSize) {
    zoka_test::ModuleMemoryScope memory;
    ResString text;
    EXPECT_TRUE(text.Load(21002, 12));
    EXPECT_STREQ(text.Text(), "Alters bri");
    EXPECT_FALSE(text.Load(24501, 300));  // Drop Shadow's description has no text
    EXPECT_STREQ(text.TextOrEmpty(), "");
    text.Release();
    EXPECT_EQ(text.Text(), nullptr);
    EXPECT_EQ(memory.Host().LiveHandles(), 0u);
}

TEST(StringTable, EveryTextFitsTheFrameworksBuffer) {
    for (const StringEntry& e : StringTable()) {
        EXPECT_LE(std::strlen(e.text), kResStringBytes - 2) << e.id;
    }
    EXPECT_STREQ(FindString(22008), "Direction (\xB0)");
    EXPECT_EQ(FindString(24500), nullptr);
}

TEST(SystemMessages, KnownCodesHaveTextAndUnknownOnesNone) {
    char* text = platform::AllocSystemMessage(8);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Not enough memory resources are available to process this command.\r\n");
    platform::FreeSystemMessage(text);
    EXPECT_EQ(platform::AllocSystemMessage(0xFFFFFFF9u), nullptr);
}

}  // namespace
}  // namespace zoka
