// When a wavetable is built: the rule every edition without a VST 2 host's
// setParameter shares, and the builder thread that follows it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "core/State.h"
#include "engine/SynthEngine.h"
#include "rebuild/TableBuilder.h"
#include "rebuild/TableRule.h"

namespace veltrosa {
namespace {

struct Step {
    const char* what;
    int32_t index;  // -1: no change
    float value;
    bool due;
};

// Each step changes one value, then asks; a due build begins and finishes.
TEST(TableRule, AsksForABuildWhenASourceChangesBitForBitOrUpdateRises) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Step steps[] = {
        {"nothing changed", -1, 0.0f, false},
        {"a harmonic", 3, 0.5f, true},
        {"the same value again", 3, 0.5f, false},
        {"-0 where 0 was", 5, -0.0f, true},
        {"a NaN", 32, nan, true},
        {"the same NaN", 32, nan, false},
        {"another NaN", 32, -nan, true},
        {"the cutoff feeds no table", kParamCutoff, 0.9f, false},
        {"Update at the threshold is not pressed", kParamUpdate, kUpdateThreshold, false},
        {"Update above it", kParamUpdate, 1.0f, true},
        {"Update held", kParamUpdate, 1.0f, false},
        {"Update released", kParamUpdate, 0.0f, false},
        {"Update again", kParamUpdate, 0.95f, true},
    };
    ParameterValues values = defaultValues();
    TableRule rule(values);
    for (const Step& step : steps) {
        if (step.index >= 0)
            values[static_cast<std::size_t>(step.index)] = step.value;
        EXPECT_EQ(rule.due(values), step.due) << step.what;
        if (step.due) {
            rule.begin(values);
            rule.finished();
        }
    }
}

TEST(TableRule, WhileABuildRunsChangesWaitAndAreAskedForOnceAfterIt) {
    ParameterValues values = defaultValues();
    TableRule rule(values);
    values[0] = 0.25f;
    ASSERT_TRUE(rule.due(values));
    rule.begin(values);
    values[1] = 0.75f;
    values[kParamUpdate] = 1.0f;
    EXPECT_FALSE(rule.due(values)) << "one build at a time";
    values[kParamUpdate] = 0.0f;
    EXPECT_FALSE(rule.due(values));
    rule.finished();
    ASSERT_TRUE(rule.due(values)) << "the change and the press made meanwhile";
    rule.begin(values);
    rule.finished();
    EXPECT_FALSE(rule.due(values)) << "coalesced into one";

    // A build that could not start is asked for again.
    values[2] = 0.5f;
    ASSERT_TRUE(rule.due(values));
    rule.begin(values);
    rule.abandon();
    EXPECT_TRUE(rule.due(values));
}

TEST(TableBuilder, BuildsOnItsThreadAndTheButtonSpringsBack) {
    SynthEngine engine;
    const float* before = engine.table();
    {
        TableBuilder builder(engine);
        ASSERT_TRUE(builder.start());
        engine.setParam(kParamUpdate, 1.0f);
        builder.request();
        ASSERT_TRUE(builder.settle(std::chrono::seconds(30)));
        EXPECT_EQ(engine.param(kParamUpdate), 0.0f);
        // Nothing changed since: a request builds nothing.
        engine.render(nullptr, nullptr, 0);
        const float* built = engine.table();
        EXPECT_NE(built, before);
        builder.request();
        ASSERT_TRUE(builder.settle(std::chrono::seconds(30)));
        engine.render(nullptr, nullptr, 0);
        EXPECT_EQ(engine.table(), built);
    }  // joined here: no thread outlives its builder
}

// Requests come from the audio thread at any moment, most often while the
// builder is about to sleep; one it missed would leave every later one
// unheard, since only the first of a run wakes it. Also run under Wine.
TEST(TableBuilder, HearsARequestHoweverItMeetsTheThreadsSleep) {
    SynthEngine engine;
    TableBuilder builder(engine);
    ASSERT_TRUE(builder.start());
    for (int i = 0; i < 1000000; ++i) {
        builder.request();
        if (i % 16 == 0)
            std::this_thread::yield();
    }
    EXPECT_TRUE(builder.settle(std::chrono::seconds(10)));
}

}  // namespace
}  // namespace veltrosa
