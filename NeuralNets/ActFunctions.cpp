#include "NeuralNets/ActFunctions.h"

#include <cmath>
#include <cstring>

#include "FileHandler/ParseTools.h"
#include "KQmessage/Assert.h"
#include "NeuralNets/TBasicNetwork.h"

void ActError(TBasicNeuron&, double) { MAPSMITH_ASSERT(false); }

void ActNull(TBasicNeuron&, double) { MAPSMITH_ASSERT(false); }

void ActBias(TBasicNeuron& neuron, double) { *neuron.value = 1.0; }

void ActLinear(TBasicNeuron& neuron, double net) { *neuron.value = net; }

void ActSaturatedLinear(TBasicNeuron& neuron, double net) {
  if (net > 0.0 && net < 1.0)
    *neuron.value = net;
  else if (net >= 1.0)
    *neuron.value = 1.0;
  else
    *neuron.value = 0.0;  // zero or below, and NaN
}

void ActSigmoid(TBasicNeuron& neuron, double net) {
  *neuron.value = net < -500.0 ? 1e-300 : 1.0 / (1.0 + std::exp(-net));
}

void ActTanh(TBasicNeuron& neuron, double net) { *neuron.value = std::tanh(net); }

void ActLinearGain(TBasicNeuron& neuron, double net) {
  *neuron.value = static_cast<TGainNeuron&>(neuron).gain * net;
}

void ActSigmoidGain(TBasicNeuron& neuron, double net) {
  *neuron.value = 1.0 / (1.0 + std::exp(-(static_cast<TGainNeuron&>(neuron).gain * net)));
}

void ActTanhGain(TBasicNeuron& neuron, double net) {
  *neuron.value = std::tanh(static_cast<TGainNeuron&>(neuron).gain * net);
}

TFnRegistry::TFnRegistry() : entries(std::make_unique<Entry[]>(16)), capacity(16), count(0) {}

TFnRegistry::~TFnRegistry() = default;

void TFnRegistry::RegisterStandardFunctions() {
  AddFunction(ActError, "error");
  AddFunction(ActNull, "null");
  AddFunction(ActBias, "bias");
  AddFunction(ActLinear, "linear");
  AddFunction(ActSaturatedLinear, "saturated-linear");
  AddFunction(ActSigmoid, "sigmoid");
  AddFunction(ActTanh, "tanh");
  AddFunction(ActLinearGain, "linear-gain");
  AddFunction(ActSigmoidGain, "sigmoid-gain");
  AddFunction(ActTanhGain, "tanh-gain");
}

TFnRegistry::Entry& TFnRegistry::Append(const char* name) {
  if (count == capacity) {
    auto grown = std::make_unique<Entry[]>(static_cast<std::size_t>(capacity) * 2);
    for (int i = 0; i < capacity; ++i) grown[i] = std::move(entries[i]);
    entries = std::move(grown);
    capacity *= 2;
  }
  Entry& e = entries[count++];
  e.name = name;
  e.fn = nullptr;
  return e;
}

void TFnRegistry::AddFunction(TActFunction fn, const char* name) {
  using mapsmith::strcasecmp;
  const char* p = name;
  for (int i = count - 1; i >= 0; --i) {
    const Entry* pp = &entries[i];
    MAPSMITH_ASSERT(strcasecmp(p,pp->name)!=0);
  }
  Append(name).fn = fn;
}

TActFunction TFnRegistry::GetFunction(const char* name) const {
  for (int i = count - 1; i >= 0; --i)
    if (mapsmith::strcasecmp(name, entries[i].name) == 0) return entries[i].fn;
  return ActError;
}

const char* TFnRegistry::GetFunctionName(TActFunction fn) const {
  for (int i = count - 1; i >= 0; --i)
    if (entries[i].fn == fn) return entries[i].name.c_str();
  MAPSMITH_ASSERT(false);
}

TActFunction& TFnRegistry::FunctionSlot(const char* name) {
  for (int i = count - 1; i >= 0; --i)
    if (mapsmith::strcasecmp(name, entries[i].name) == 0) return entries[i].fn;
  return Append(name).fn;
}
