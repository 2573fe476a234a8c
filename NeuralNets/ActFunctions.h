// Activation functions (plain functions that turn a neuron's net input into its
// output) and the registry that maps their names to them and back.
#pragma once

#include <memory>
#include <string>

class TBasicNeuron;

// Stores the neuron's output for net input `net` through the neuron's `value`.
using TActFunction = void (*)(TBasicNeuron& neuron, double net);

// Must never be evaluated: a layer still holding one of these is not ready.
void ActError(TBasicNeuron& neuron, double net);
void ActNull(TBasicNeuron& neuron, double net);
void ActBias(TBasicNeuron& neuron, double net);
void ActLinear(TBasicNeuron& neuron, double net);
void ActSaturatedLinear(TBasicNeuron& neuron, double net);
void ActSigmoid(TBasicNeuron& neuron, double net);
void ActTanh(TBasicNeuron& neuron, double net);
// The gain functions read the neuron's gain: use them only on gain neurons.
void ActLinearGain(TBasicNeuron& neuron, double net);
void ActSigmoidGain(TBasicNeuron& neuron, double net);
void ActTanhGain(TBasicNeuron& neuron, double net);

// Names to functions and back. Names are compared without regard to case and
// searched newest first. The owner calls RegisterStandardFunctions right after
// construction.
class TFnRegistry {
 public:
  struct Entry {
    std::string name;
    TActFunction fn = nullptr;
  };

  std::unique_ptr<Entry[]> entries;
  int capacity;
  int count;

  TFnRegistry();
  virtual ~TFnRegistry();
  TFnRegistry(const TFnRegistry&) = delete;
  TFnRegistry& operator=(const TFnRegistry&) = delete;

  // Registers the ten standard functions in their fixed order.
  virtual void RegisterStandardFunctions();

  // Appends (fn, name). Precondition: no entry has a name equal to `name` (case ignored).
  void AddFunction(TActFunction fn, const char* name);
  // The function registered under name, or ActError when there is none.
  TActFunction GetFunction(const char* name) const;
  // The registry's own copy of the newest name under which fn is registered;
  // valid while the registry lives. Precondition: fn is registered.
  const char* GetFunctionName(TActFunction fn) const;
  // The function slot of the entry named `name`, appended (without a function) if absent.
  TActFunction& FunctionSlot(const char* name);

 private:
  Entry& Append(const char* name);
};
