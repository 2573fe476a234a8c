// The network model: layered networks of neurons, the connection sets that
// carry the weighted arcs between layer pairs, the weight visitors that walk
// those sets, the fully connected network and its arc iterators.
//
// Ownership: a network owns its layers (`layers`), its connection sets
// (`priv_conns`) and its activation function registry; a layer owns its neurons
// and its `values`. Visitors and arc iterators own nothing and are invalidated
// by any structural change of the network they walk.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "NeuralNets/ActFunctions.h"

class TBasicLayer;
class TBasicNetwork;
class TBasicConnections;
class TArcsIterator;

// ---------------------------------------------------------------- neurons

class TBasicNeuron {
 public:
  int layerNum = 0;     // layer the neuron belongs to
  int index = 0;        // position within that layer
  double* value = nullptr;         // the neuron's entry in its layer's `values`
  TBasicLayer* layer = nullptr;    // owning layer (not owned)
  TActFunction actFunction = ActError;

  TBasicNeuron() = default;
  TBasicNeuron(const TBasicNeuron&) = default;
  TBasicNeuron& operator=(const TBasicNeuron&) = default;
  virtual ~TBasicNeuron() = default;

  // Computes the output for net input `net` into *value.
  virtual void Activate(double net);
  virtual int GetNumParams();
  virtual void GetParams(double* out);
  virtual void SetParams(const double* in);
  virtual const char* GetParamName(int i);
  // Copies state beyond the common fields (none in the library's neurons).
  virtual void CopyExtra(const TBasicNeuron& from);

  // Sets this neuron's function; the layer forgets its common function.
  void SetActFunction(TActFunction fn);
  TActFunction GetActFunction() const { return actFunction; }
};

// Whether Propagate may run on `net`: every neuron of every layer other than
// an Input layer has a function that may be evaluated, not "error" (what a
// neuron holds until it is given one) nor "null". A network read from a file
// may leave a layer without functions; check before propagating it.
bool CanPropagate(TBasicNetwork& net);

class TGainNeuron : public TBasicNeuron {
 public:
  double gain = 1.0;

  int GetNumParams() override;
  void GetParams(double* out) override;
  void SetParams(const double* in) override;
  const char* GetParamName(int i) override;
};

// ---------------------------------------------------------------- layers

// A numbered group of neurons. Layers are created for a network and layer
// number, installed in the network, and released through Destroy (or by the
// network's owning pointer, which does the same).
class TBasicLayer {
 public:
  TBasicNetwork* network;            // owning network (not owned)
  TActFunction actFunction;          // common function when known, else nullptr
  int numNeurons;                    // changed by the network's AddNode/RemoveNode
  int layerNum;
  std::vector<double> values;        // net inputs during a pass, then outputs
  int numDimensions;
  std::unique_ptr<int[]> dimensions; // numDimensions sizes, or none

  TBasicLayer(TBasicNetwork* network, int layerNum, int count);
  TBasicLayer(const TBasicLayer&) = delete;
  TBasicLayer& operator=(const TBasicLayer&) = delete;
  virtual ~TBasicLayer();

  // Applies the functions to net[i] for every neuron (the layer's common
  // function if set, else each neuron's own).
  virtual void Activate(double* net);
  virtual TBasicNeuron* GetNeuron(int i) = 0;
  // Computes the layer's outputs from the network inputs and the lower layers.
  virtual void Propagate(const double* inputs);
  virtual const char* GetLayerType() = 0;
  // Releases the layer object. Only for a layer that no owning pointer holds.
  virtual void Destroy();
  // A new layer of the same class for `network`, with copies of the neurons.
  virtual std::unique_ptr<TBasicLayer> Clone(TBasicNetwork* network) = 0;
  // Drops neuron pos (numNeurons is lowered afterwards by the network).
  virtual void RemoveNeuron(int pos) = 0;
  // Opens a new neuron at pos (numNeurons is raised afterwards by the network).
  virtual void InsertNeuron(int pos);

  void SetActFunction(TActFunction fn);
  // The common function, worked out and remembered if unknown; nullptr when the
  // neurons differ; ActNull for a layer without neurons.
  TActFunction GetActFunction();
  void GetDimensions(int* parameters);
  void SetDimensions(int count, const int* parameters);
  // Gives other fresh zero `values`, a copy of the dimensions and the common function.
  void CopyStateTo(TBasicLayer& other);

 protected:
  // Points every neuron's layer and value at this layer; sets layerNum and index.
  template <class N>
  void AttachNodes(std::vector<N>& nodes);
  template <class N>
  void CloneNodesInto(const std::vector<N>& from, std::vector<N>& to, TBasicLayer& newLayer);
  template <class N>
  void RemoveNodeFrom(std::vector<N>& nodes, int pos);
  template <class N>
  void InsertNodeInto(std::vector<N>& nodes, int pos, const N& fresh);
};

class TSimpleLayer : public TBasicLayer {
 public:
  std::vector<TBasicNeuron> nodes;

  TSimpleLayer(TBasicNetwork* network, int layerNum, int count);

  TBasicNeuron* GetNeuron(int i) override { return &nodes[i]; }
  const char* GetLayerType() override;
  std::unique_ptr<TBasicLayer> Clone(TBasicNetwork* network) override;
  void RemoveNeuron(int pos) override;
  void InsertNeuron(int pos) override;
};

// The input layer: copies the network inputs, applies no function.
class TSimpleInputLayer : public TSimpleLayer {
 public:
  TSimpleInputLayer(TBasicNetwork* network, int layerNum, int count);

  void Propagate(const double* inputs) override;
  const char* GetLayerType() override;
  std::unique_ptr<TBasicLayer> Clone(TBasicNetwork* network) override;
};

class TGainLayer : public TBasicLayer {
 public:
  std::vector<TGainNeuron> nodes;

  TGainLayer(TBasicNetwork* network, int layerNum, int count, double gain);

  TBasicNeuron* GetNeuron(int i) override { return &nodes[i]; }
  const char* GetLayerType() override;
  std::unique_ptr<TBasicLayer> Clone(TBasicNetwork* network) override;
  void RemoveNeuron(int pos) override;
  void InsertNeuron(int pos) override;

  void SetGains(double gain);
};

// ---------------------------------------------------------------- visitors

// Weight flags of one arc.
inline constexpr char FMaskExists = 1;
inline constexpr char FMaskTrainable = 2;
inline constexpr char FMaskAll = 3;

// Visits weights of one connection set: the set fills the position fields and
// calls Visit once per admitted weight. A visitor may change *weight and use
// per-weight operations of `conns` for the current arc, never the set's shape.
class TIterateObj {
 public:
  int fromLayer = 0, toLayer = 0;
  int fromNode = 0, toNode = 0;
  TBasicConnections* conns = nullptr;
  double* weight = nullptr;
  char trainable = 0;
  TBasicLayer* pFromLayer = nullptr;
  TBasicLayer* pToLayer = nullptr;
  double* fromOutputs = nullptr;
  double* toOutputs = nullptr;

  virtual ~TIterateObj() = default;
  virtual void Visit() {}

  // Fills the layer fields from the two layers and `conns` from their network.
  void Init(TBasicLayer* from, TBasicLayer* to);
};

// Visits the weights of one layer pair in two networks of the same shape.
class TIterateObj2 {
 public:
  int fromLayer = 0, toLayer = 0;
  int fromNode = 0, toNode = 0;
  TBasicConnections* conns1 = nullptr;
  TBasicConnections* conns2 = nullptr;
  double* weight1 = nullptr;
  double* weight2 = nullptr;
  char trainable = 0;
  TBasicLayer* pFromLayer1 = nullptr;
  TBasicLayer* pToLayer1 = nullptr;
  TBasicLayer* pFromLayer2 = nullptr;
  TBasicLayer* pToLayer2 = nullptr;
  double* fromOutputs1 = nullptr;
  double* toOutputs1 = nullptr;
  double* fromOutputs2 = nullptr;
  double* toOutputs2 = nullptr;

  TIterateObj2() = default;
  TIterateObj2(TBasicNetwork* first, TBasicNetwork* second, int fromLayer, int toLayer,
               int fromNode, int toNode);
  virtual ~TIterateObj2() = default;
  virtual void Visit() {}

  // Fills the pair, both networks' sets, layers and outputs. Precondition: the
  // two sets are of the same kind.
  void Init(TBasicNetwork* first, TBasicNetwork* second, int fromLayer, int toLayer);
};

// Visits the weights of one layer pair in three networks of the same shape.
class TIterateObj3 {
 public:
  int fromLayer = 0, toLayer = 0;
  int fromNode = 0, toNode = 0;
  TBasicConnections* conns1 = nullptr;
  TBasicConnections* conns2 = nullptr;
  TBasicConnections* conns3 = nullptr;
  double* weight1 = nullptr;
  double* weight2 = nullptr;
  double* weight3 = nullptr;
  char trainable = 0;
  TBasicLayer* pFromLayer1 = nullptr;
  TBasicLayer* pToLayer1 = nullptr;
  TBasicLayer* pFromLayer2 = nullptr;
  TBasicLayer* pToLayer2 = nullptr;
  TBasicLayer* pFromLayer3 = nullptr;
  TBasicLayer* pToLayer3 = nullptr;
  double* fromOutputs1 = nullptr;
  double* toOutputs1 = nullptr;
  double* fromOutputs2 = nullptr;
  double* toOutputs2 = nullptr;
  double* fromOutputs3 = nullptr;
  double* toOutputs3 = nullptr;

  TIterateObj3() = default;
  TIterateObj3(TBasicNetwork* first, TBasicNetwork* second, TBasicNetwork* third, int fromLayer,
               int toLayer, int fromNode, int toNode);
  virtual ~TIterateObj3() = default;
  virtual void Visit() {}

  // Precondition: the second and third sets are of the first set's kind.
  void Init(TBasicNetwork* first, TBasicNetwork* second, TBasicNetwork* third, int fromLayer,
            int toLayer);
};

class TIterateObjGetNumWeights : public TIterateObj {
 public:
  int count = 0;
  void Visit() override { ++count; }
};

class TIterateObjGetWeights : public TIterateObj {
 public:
  int count = 0;
  double* out = nullptr;
  explicit TIterateObjGetWeights(double* out) : out(out) {}
  void Visit() override {
    *out++ = *weight;
    ++count;
  }
};

class TIterateObjSetWeights : public TIterateObj {
 public:
  int count = 0;
  const double* in = nullptr;
  explicit TIterateObjSetWeights(const double* in) : in(in) {}
  void Visit() override {
    *weight = *in++;
    ++count;
  }
};

class TIterateObjRandomize : public TIterateObj {
 public:
  double min, max;
  TIterateObjRandomize(double min, double max) : min(min), max(max) {}
  void Visit() override;
};

class TIterateObjAggregate : public TIterateObj {
 public:
  double sum = 0.0;
  void Visit() override { sum += fromOutputs[fromNode] * *weight; }
};

class TIterateObjGetFlags : public TIterateObj {
 public:
  int count = 0;
  char* flags;
  explicit TIterateObjGetFlags(char* flags) : flags(flags) {}
  void Visit() override;
};

class TIterateObjSetFlags : public TIterateObj {
 public:
  int count = 0;
  const char* flags;
  explicit TIterateObjSetFlags(const char* flags) : flags(flags) {}
  void Visit() override;
};

class TIterateObjAllUntrainable : public TIterateObj {
 public:
  void Visit() override;
};

// Counts the arcs shown to it (finds neurons without outgoing arcs).
class TIterateObjPruneNode : public TIterateObj {
 public:
  int count = 0;
  void Visit() override { ++count; }
};

// ---------------------------------------------------------------- connection sets

// The weighted arcs from the neurons of layer fromLayer to those of layer
// toLayer. Per-weight operations take the from neuron first. Iteration order:
// to neurons ascending outside, from neurons ascending inside. Visit mode 1
// admits every existing weight, any other mode the existing trainable ones.
// Iteration is allowed only on a set installed in its network's cell.
class TBasicConnections {
 public:
  TBasicNetwork* network;  // owning network (not owned)
  int fromLayer;
  int toLayer;

  TBasicConnections(TBasicNetwork* network, int fromLayer, int toLayer)
      : network(network), fromLayer(fromLayer), toLayer(toLayer) {}
  TBasicConnections(const TBasicConnections&) = delete;
  TBasicConnections& operator=(const TBasicConnections&) = delete;

  virtual bool IsConnected();
  virtual int GetNumWeights(int mode);
  // Copies the admitted weights to out; returns the number written.
  virtual int GetWeights(double* out, int mode);
  // Sets the admitted weights from in; returns the number read.
  virtual int SetWeights(const double* in, int mode);
  // A random draw in [min, max] for every trainable weight (min when equal).
  virtual void Randomize(double min, double max);
  virtual double& Weight(int from, int to) = 0;
  // Adds the weighted outputs of the from layer into net[t]; net is not cleared.
  virtual void Aggregate(double* net);
  virtual bool WeightExists(int from, int to) = 0;
  virtual bool IsTrainable(int from, int to);
  virtual void PruneWeight(int from, int to);
  virtual void RestoreWeight(int from, int to);
  virtual void MakeTrainable(int from, int to);
  virtual void MakeUntrainable(int from, int to);
  virtual void IterateIn(TIterateObj& v, int to, int mode) = 0;
  virtual void IterateOut(TIterateObj& v, int from, int mode) = 0;
  virtual void Iterate(TIterateObj& v, int mode) = 0;
  // Visits this set's admitted weights with the weights at the same arcs of
  // the set(s) that the other network(s) hold for this layer pair.
  virtual void Iterate2(TIterateObj2& v, TBasicNetwork* other, int mode) = 0;
  virtual void Iterate3(TIterateObj3& v, TBasicNetwork* second, TBasicNetwork* third,
                        int mode) = 0;
  // One static text per kind: "Empty", "FullyConnected" or "Pruneable".
  virtual const char* GetConnectionsNType() = 0;
  virtual char GetWeightFlags(int from, int to);
  virtual void SetWeightFlags(int from, int to, char val);
  virtual ~TBasicConnections() = default;
  // A new set of the same kind for the same layer pair, belonging to network.
  virtual std::unique_ptr<TBasicConnections> Clone(TBasicNetwork* network) = 0;
  // The from (to) layer has just lost neuron node; its count is already the new one.
  virtual void RemoveFromNode(int node) = 0;
  virtual void RemoveToNode(int node) = 0;
  // The from (to) layer has just gained a neuron at node; its count is already the new one.
  virtual void InsertFromNode(int node, double min, double max, bool attached);
  virtual void InsertToNode(int node, double min, double max, bool attached);

  // Flags of every existing weight in iteration order.
  std::vector<char> GetFlags();
  // Sets the flags of every existing weight in iteration order from flags.
  void SetFlags(const char* flags);
  void MakeAllUntrainable();

 protected:
  TBasicLayer* FromLayerPtr() const;
  TBasicLayer* ToLayerPtr() const;
};

// The set of a layer pair without arcs.
class TEmptyConnections : public virtual TBasicConnections {
 public:
  double zero = 0.0;

  TEmptyConnections(TBasicNetwork* network, int fromLayer, int toLayer)
      : TBasicConnections(network, fromLayer, toLayer) {}

  bool IsConnected() override { return false; }
  bool WeightExists(int, int) override { return false; }
  int GetNumWeights(int) override { return 0; }
  int GetWeights(double*, int) override { return 0; }
  int SetWeights(const double*, int) override { return 0; }
  void Randomize(double, double) override {}
  double& Weight(int from, int to) override;
  void Aggregate(double*) override {}
  void IterateIn(TIterateObj&, int, int) override {}
  void IterateOut(TIterateObj&, int, int) override {}
  void Iterate(TIterateObj&, int) override {}
  void Iterate2(TIterateObj2&, TBasicNetwork*, int) override {}
  void Iterate3(TIterateObj3&, TBasicNetwork*, TBasicNetwork*, int) override {}
  const char* GetConnectionsNType() override;
  ~TEmptyConnections() override = default;
  std::unique_ptr<TBasicConnections> Clone(TBasicNetwork* network) override;
  void RemoveFromNode(int) override {}
  void RemoveToNode(int) override {}
  void InsertFromNode(int, double, double, bool) override {}
  void InsertToNode(int, double, double, bool) override {}
};

// ---------------------------------------------------------------- networks

// A numbered list of layers, one connection set for every ordered layer pair
// (`priv_conns_index[toLayer][fromLayer]`, never empty), the input and output
// layer numbers and a registry of activation functions. The fields are open
// to subclasses and the network file reader; SetLayer and SetConnections
// install objects while keeping the ownership and position invariants.
class TBasicNetwork {
 public:
  using LayerPtr = std::unique_ptr<TBasicLayer>;
  using ConnsPtr = std::unique_ptr<TBasicConnections>;

  int numLayers = 0;
  std::vector<LayerPtr> layers;
  int inLayer = 0;
  int outLayer = 0;
  std::vector<ConnsPtr> priv_conns;         // cell toLayer * numLayers + fromLayer
  std::vector<ConnsPtr*> priv_conns_index;  // row toLayer starts at priv_conns[toLayer * numLayers]
  std::unique_ptr<TFnRegistry> registry;

  // Sets nothing up: the caller calls Init.
  TBasicNetwork();
  // Init(n_layers); the caller then fills every entry of `layers`.
  explicit TBasicNetwork(int n_layers);
  TBasicNetwork(const TBasicNetwork& x);
  TBasicNetwork& operator=(const TBasicNetwork& x);
  virtual ~TBasicNetwork();

  virtual int GetNumWeights(int mode);
  virtual int GetWeights(double* buffer, int mode);
  virtual int SetWeights(const double* buffer, int mode);
  virtual void Randomize(double min, double max);
  // Puts a pruneable set into an unconnected cell; a connected cell is kept.
  virtual void Connect(int fromLayer, int toLayer);
  virtual void Disconnect(int fromLayer, int toLayer);
  // Runs the inputs through every layer in ascending order; copies the output
  // layer's values to outputs.
  virtual void Propagate(const double* inputs, double* outputs);
  virtual const char* GetNetworkType();
  // A new iterator over incoming arcs, owned by the caller (connected networks only).
  virtual std::unique_ptr<TArcsIterator> NewArcsIterator();

  // Makes the arrays for n_layers layers (entries unfilled), an empty set in
  // every cell and the registry with the standard functions.
  void Init(int n_layers);

  int GetNumNeurons();
  // Neuron with the given number across all layers, in layer order.
  TBasicNeuron* GetNeuron(int index);
  void AddNode(int LayerNum, int node, double min, double max, bool attached);
  void RemoveNode(int LayerNum, int node);
  // Removes hidden neurons below the output layer that have no outgoing arcs;
  // returns how many were removed.
  int PruneNodes();
  void IterateInArcs(TIterateObj& visitor, int LayerNum, int node, int mode);
  void IterateOutArcs(TIterateObj& visitor, int LayerNum, int node, int mode);
  // Inserts layer (made for this network) at LayerNum, renumbering above it.
  void InsertLayer(int LayerNum, LayerPtr layer);
  void RemoveLayer(int LayerNum);

  // Helpers for builders such as the network file reader.
  TBasicLayer* GetLayer(int LayerNum) { return layers[LayerNum].get(); }
  // Installs layer at LayerNum, destroying any layer there; sets its layerNum.
  void SetLayer(int LayerNum, LayerPtr layer);
  TBasicConnections* GetConnections(int fromLayer, int toLayer) {
    return priv_conns_index[toLayer][fromLayer].get();
  }
  // Installs conns into the cell of its own (fromLayer, toLayer), destroying the set there.
  void SetConnections(ConnsPtr conns);

 protected:
  void CopyFrom(const TBasicNetwork& x);
  void MakeIndex();
  void ReleaseAll();
};

// ---------------------------------------------------------------- arc iterators

// Walks the incoming arcs of one neuron, forwards and backwards.
class TArcsIterator {
 public:
  virtual ~TArcsIterator() = default;
  virtual int GetFromLayer() = 0;
  virtual int GetToLayer() = 0;
  virtual int GetFromNode() = 0;
  virtual int GetToNode() = 0;
  virtual TBasicNeuron* GetToNeuron() = 0;
  virtual TBasicNeuron* GetFromNeuron() = 0;
  virtual double& GetWeight() = 0;
  bool More() { return IsValid(); }
  virtual bool IsValid() = 0;
  virtual bool Next() = 0;
  virtual bool Prev() = 0;
};

class TInAllArcsIterator : public TArcsIterator {
 public:
  TBasicNetwork* network;
  explicit TInAllArcsIterator(TBasicNetwork* network) : network(network) {}
  // Chooses the target neuron and goes before the first arc.
  virtual void Start(int /*toLayer*/, int /*toNode*/) {}
};

class TInLayerArcsIterator : public TArcsIterator {
 public:
  TBasicNetwork* network;
  explicit TInLayerArcsIterator(TBasicNetwork* network) : network(network) {}
  // Chooses the target neuron and the one source layer and goes before the first arc.
  virtual void Start(int /*toLayer*/, int /*toNode*/, int /*fromLayer*/) {}
};

// Common state of the working iterators.
struct TConnArcsState {
  int toLayer = -1, toNode = -1;
  TBasicNeuron* toNeuron = nullptr;
  int fromLayer = -1, fromNode = -1, lastNode = -1;
  TBasicNeuron* fromNeuron = nullptr;
  double* weight = nullptr;
  TBasicConnections* conns = nullptr;
};

class TConnectedNetwork;

// Walks the arcs into one neuron from every layer, source layers ascending.
class TConnInAllArcsIterator : public TInAllArcsIterator {
 public:
  explicit TConnInAllArcsIterator(TConnectedNetwork* network);
  int GetFromLayer() override { return s.fromLayer; }
  int GetToLayer() override { return s.toLayer; }
  int GetFromNode() override { return s.fromNode; }
  int GetToNode() override { return s.toNode; }
  TBasicNeuron* GetToNeuron() override { return s.toNeuron; }
  TBasicNeuron* GetFromNeuron() override { return s.fromNeuron; }
  // Precondition: the iterator stands on an arc.
  double& GetWeight() override;
  // Whether it stands on an arc.
  bool IsValid() override { return s.conns != nullptr; }
  bool Next() override;
  bool Prev() override;
  void Start(int toLayer, int toNode) override;

 private:
  TConnArcsState s;
  void StandOn(int fromNode);
};

// Walks the arcs into one neuron from one source layer.
class TConnInLayerArcsIterator : public TInLayerArcsIterator {
 public:
  explicit TConnInLayerArcsIterator(TConnectedNetwork* network);
  int GetFromLayer() override { return s.fromLayer; }
  int GetToLayer() override { return s.toLayer; }
  int GetFromNode() override { return s.fromNode; }
  int GetToNode() override { return s.toNode; }
  TBasicNeuron* GetToNeuron() override { return s.toNeuron; }
  TBasicNeuron* GetFromNeuron() override { return s.fromNeuron; }
  double& GetWeight() override;
  // True from Start on; the answers of Next and Prev tell whether it stands on an arc.
  bool IsValid() override { return s.conns != nullptr; }
  bool Next() override;
  bool Prev() override;
  void Start(int toLayer, int toNode, int fromLayer) override;

 private:
  TConnArcsState s;
  void StandOn(int fromNode);
};

// A network whose connections are fully connected sets.
class TConnectedNetwork : public TBasicNetwork {
 public:
  TConnectedNetwork() = default;
  explicit TConnectedNetwork(int n_layers) : TBasicNetwork(n_layers) {}
  // Init(n_layers), then layer i of sizes[i] neurons (the input layer a
  // TSimpleInputLayer, the others TSimpleLayer); nothing connected.
  TConnectedNetwork(int n_layers, const int* sizes);
  TConnectedNetwork(const TConnectedNetwork&) = default;
  TConnectedNetwork& operator=(const TConnectedNetwork&) = default;
  ~TConnectedNetwork() override = default;

  // Puts a fully connected set into an unconnected cell; a connected cell is kept.
  void Connect(int fromLayer, int toLayer) override;
  const char* GetNetworkType() override;
  std::unique_ptr<TArcsIterator> NewArcsIterator() override;
};
