#include "NeuralNets/ActFunctions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "NeuralNets/TBasicLayer.h"

namespace kartlo {
namespace {

/// The output a function stores for `net`, through a neuron of the given gain.
double Apply(TActFunction fn, double net, double gain = 1.0) {
  double out = -12345.0;
  TGainNeuron neuron;
  neuron.gain = gain;
  neuron.value = &out;
  fn(&neuron, net);
  return out;
}

TEST(ActFunctions, ValuesAtTheDocumentedPoints) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* what;
    TActFunction fn;
    double net;
    double gain;
    double expected;
  };
  const Case cases[] = {
      {"bias at 0", &ActFnBias, 0.0, 1.0, 1.0},
      {"bias at -7", &ActFnBias, -7.0, 1.0, 1.0},
      {"bias at NaN", &ActFnBias, nan, 1.0, 1.0},
      {"linear", &ActFnLinear, -2.5, 1.0, -2.5},
      {"saturated-linear -3", &ActFnSaturatedLinear, -3.0, 1.0, 0.0},
      {"saturated-linear 0", &ActFnSaturatedLinear, 0.0, 1.0, 0.0},
      {"saturated-linear 0.25", &ActFnSaturatedLinear, 0.25, 1.0, 0.25},
      {"saturated-linear 1", &ActFnSaturatedLinear, 1.0, 1.0, 1.0},
      {"saturated-linear 7", &ActFnSaturatedLinear, 7.0, 1.0, 1.0},
      {"saturated-linear NaN", &ActFnSaturatedLinear, nan, 1.0, 0.0},
      {"sigmoid 0", &ActFnSigmoid, 0.0, 1.0, 0.5},
      {"sigmoid -501", &ActFnSigmoid, -501.0, 1.0, 1.0e-300},
      {"sigmoid -1e308", &ActFnSigmoid, -1e308, 1.0, 1.0e-300},
      {"sigmoid -500", &ActFnSigmoid, -500.0, 1.0, 1 / (1 + std::exp(500.0))},
      {"sigmoid 2", &ActFnSigmoid, 2.0, 1.0, 1 / (std::exp(-2.0) + 1)},
      {"tanh", &ActFnTanh, 0.5, 1.0, std::tanh(0.5)},
      {"linear-gain default gain", &ActFnLinearGain, 3.5, 1.0, 3.5},
      {"linear-gain gain 2", &ActFnLinearGain, 3.5, 2.0, 7.0},
      {"sigmoid-gain gain 2", &ActFnSigmoidGain, 0.5, 2.0, 1 / (std::exp(-1.0) + 1)},
      {"sigmoid-gain has no cut-off", &ActFnSigmoidGain, -600.0, 1.0, 1 / (std::exp(600.0) + 1)},
      {"tanh-gain gain 3", &ActFnTanhGain, 0.25, 3.0, std::tanh(0.75)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Apply(c.fn, c.net, c.gain), c.expected);
  }
  const double at500 = Apply(&ActFnSigmoid, -500.0);
  EXPECT_GT(at500, 7.0e-218);
  EXPECT_LT(at500, 7.2e-218);
}

TEST(ActFunctions, GainFunctionsOnAPlainNeuronUseGainOne) {
  double out = 0.0;
  TBasicNeuron neuron;
  neuron.value = &out;
  ActFnLinearGain(&neuron, 4.0);
  EXPECT_EQ(out, 4.0);
  ActFnTanhGain(&neuron, 0.3);
  EXPECT_EQ(out, std::tanh(0.3));
}

TEST(ActFunctionsDeathTest, ErrorAndNullStopWhenApplied) {
  EXPECT_DEATH(Apply(&ActFnError, 1.0), "Assertion failed: false");
  EXPECT_DEATH(Apply(&ActFnNull, 1.0), "Assertion failed: false");
}

TEST(FnRegistry, DefaultsInOrderWithinInitialCapacity) {
  TFnRegistry registry;
  EXPECT_EQ(registry.capacity, 16);
  EXPECT_EQ(registry.count, 0);
  registry.RegisterDefaults();
  const char* names[] = {"error", "null", "bias", "linear", "saturated-linear",
                         "sigmoid", "tanh", "linear-gain", "sigmoid-gain", "tanh-gain"};
  const TActFunction fns[] = {&ActFnError, &ActFnNull, &ActFnBias, &ActFnLinear,
                              &ActFnSaturatedLinear, &ActFnSigmoid, &ActFnTanh,
                              &ActFnLinearGain, &ActFnSigmoidGain, &ActFnTanhGain};
  ASSERT_EQ(registry.count, 10);
  EXPECT_EQ(registry.capacity, 16);
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(registry.items[static_cast<size_t>(i)].name, names[i]);
    EXPECT_EQ(registry.items[static_cast<size_t>(i)].fn, fns[i]);
    EXPECT_EQ(registry.Find(names[i]), fns[i]);
    EXPECT_STREQ(registry.GetName(fns[i]), names[i]);
  }
}

void Extra(TBasicNeuron* neuron, double net) { *neuron->value = net + 1; }

TEST(FnRegistry, GrowsByDoublingAndKeepsOrder) {
  TFnRegistry registry;
  registry.RegisterDefaults();
  for (int i = 0; i < 7; ++i) {
    registry.Register(&Extra, ("extra" + std::to_string(i)).c_str());
    EXPECT_EQ(registry.capacity, registry.count <= 16 ? 16 : 32);
  }
  EXPECT_EQ(registry.count, 17);
  EXPECT_EQ(registry.capacity, 32);
  EXPECT_EQ(registry.items[0].name, "error");
  EXPECT_EQ(registry.items[9].name, "tanh-gain");
  for (int i = 0; i < 7; ++i) EXPECT_EQ(registry.items[static_cast<size_t>(10 + i)].name, "extra" + std::to_string(i));
  EXPECT_EQ(registry.Find("EXTRA6"), &Extra);
  EXPECT_EQ(registry.Find("sigmoid"), &ActFnSigmoid);
}

TEST(FnRegistry, NamesMatchWithoutRegardToCase) {
  TFnRegistry registry;
  registry.RegisterDefaults();
  for (const char* spelling : {"SIGMOID", "Sigmoid", "sIgMoId", "sigmoid"}) {
    SCOPED_TRACE(spelling);
    EXPECT_EQ(registry.Find(spelling), &ActFnSigmoid);
  }
  EXPECT_STREQ(registry.GetName(registry.Find("SIGMOID")), "sigmoid");
  EXPECT_EQ(registry.Find("Saturated-Linear"), &ActFnSaturatedLinear);
}

TEST(FnRegistry, UnknownNameFindsTheErrorFunction) {
  TFnRegistry registry;
  registry.RegisterDefaults();
  EXPECT_EQ(registry.Find("softmax"), &ActFnError);
  EXPECT_EQ(registry.Find(""), &ActFnError);
}

TEST(FnRegistry, GetNameTakesTheNewestRegistration) {
  TFnRegistry registry;
  registry.RegisterDefaults();
  registry.Register(&ActFnLinear, "Identity");
  EXPECT_STREQ(registry.GetName(&ActFnLinear), "Identity");
  EXPECT_EQ(registry.Find("identity"), &ActFnLinear);
}

TEST(FnRegistry, FindOrAddReturnsTheSlotAndAppendsMissingNames) {
  TFnRegistry registry;
  registry.RegisterDefaults();
  EXPECT_EQ(registry.FindOrAdd("LINEAR"), &ActFnLinear);
  EXPECT_EQ(registry.count, 10);

  TActFunction& slot = registry.FindOrAdd("Custom");
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(registry.count, 11);
  slot = &Extra;
  EXPECT_EQ(registry.Find("custom"), &Extra);
  EXPECT_STREQ(registry.GetName(&Extra), "Custom");

  for (int i = 0; i < 6; ++i) registry.FindOrAdd(("more" + std::to_string(i)).c_str());
  EXPECT_EQ(registry.count, 17);
  EXPECT_EQ(registry.capacity, 32);
  EXPECT_EQ(registry.Find("custom"), &Extra);
}

TEST(FnRegistryDeathTest, RepeatedNameAndUnregisteredFunctionStop) {
  TFnRegistry registry;
  registry.RegisterDefaults();
  EXPECT_DEATH(registry.Register(&Extra, "LINEAR"), "Assertion failed: strcasecmp\\(p,pp->name\\)!=0");
  EXPECT_DEATH(registry.GetName(&Extra), "Assertion failed: false");
}

}  // namespace
}  // namespace kartlo
