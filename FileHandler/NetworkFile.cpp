#include "FileHandler/NetworkFile.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPrunedConnections.h"

// ---------------------------------------------------------------- reading

namespace {

using mapsmith::strcasecmp;

// Every layer pair gets a connection set object, so the layer count costs
// its square in allocations; no real network comes near this bound.
constexpr int kMaxLayers = 1024;
// Matrix column attributes held at most.
constexpr int kMaxMatrixColumns = 9;

bool Is(std::string_view a, std::string_view b) { return strcasecmp(a, b) == 0; }

// Reads one network file. The network under construction is owned by
// `network_`, so every error thrown on the way releases it.
class NetworkReader {
 public:
  NetworkReader(FileTools& tools, std::istream& in) : tools_(tools), in_(in) {}

  std::unique_ptr<TBasicNetwork> Read();

 private:
  enum Column : char { kWeightColumn, kTrainableColumn };

  // The next element inside `block` (empty: outside any block).
  void Next(std::string_view block) { tools_.ReadTag(block, in_, false, tag_); }
  // The next item of an open tag.
  void Item() { tools_.ReadTag({}, in_, true, tag_); }
  [[noreturn]] void Fail(const std::string& message) { throw FileTools::Error(message, &in_); }

  bool IsValue() const { return tag_.kind == FileTools::TagValue; }
  bool IsValue(std::string_view name) const { return IsValue() && Is(tag_.name, name); }
  bool IsStart(std::string_view name) const {
    return tag_.kind == FileTools::TagStart && Is(tag_.name, name);
  }
  int Integer() { return FileTools::ParseInteger(in_, tag_.value); }
  double Number() { return FileTools::ParseNumber(in_, tag_.value); }

  void ReadInformation();
  void MakeNetwork();
  void ReadDimensions();
  void ReadLayer(int layerNum);
  void ReadNeurons(TBasicLayer& layer, TActFunction layerFn, std::vector<double>& params);
  void ReadConnections();
  void ReadMatrix(TBasicConnections& conns);
  void ReadWeightList(TBasicConnections& conns);
  TActFunction Function(const std::string& name);
  int ParamIndex(TBasicNeuron& neuron, const std::string& name);

  FileTools& tools_;
  std::istream& in_;
  FileTools::Tag tag_;
  std::unique_ptr<TBasicNetwork> network_;

  std::string typeText_;
  int numLayers_ = -1;
  int inLayer_ = 1;
  int outLayer_ = -1;
  int numInputs_ = -1;
  int numOutputs_ = -1;
  int biasLayer_ = -1;  // read and otherwise ignored
  int numDimensions_ = 0;
  std::vector<int> dimensions_;
};

std::unique_ptr<TBasicNetwork> NetworkReader::Read() {
  Next({});
  FileTools::ExpectBlock(tag_, in_, "NEURALNETWORK");
  Next("NeuralNetwork");
  typeText_ = FileTools::ReadString(tag_, in_, "NETWORKTYPE");
  Next("NeuralNetwork");
  FileTools::ExpectBlock(tag_, in_, "NETWORKINFORMATION");
  ReadInformation();
  MakeNetwork();

  const bool kohonen = Is(typeText_, "KOHONEN");
  if (kohonen) ReadDimensions();

  Next("NeuralNetwork");
  while (IsValue("Layer")) {
    const int layerNum = Integer();
    if (layerNum < 0 || layerNum >= network_->numLayers) Fail("Layer number out of range");
    ReadLayer(layerNum);
    Next("NeuralNetwork");
  }
  // Connection sets are sized from their layers, and an empty layer entry
  // would break every later use of the network.
  for (int l = 0; l < network_->numLayers; ++l)
    if (network_->GetLayer(l) == nullptr) Fail("Layer " + std::to_string(l) + " is not defined");

  if (kohonen) {
    static_cast<TKohonenNetwork&>(*network_).SetDimensions(numDimensions_, dimensions_.data());
  }

  while (IsStart("ConnectionLayer")) ReadConnections();

  FileTools::ExpectEnd(tag_, in_);
  Next({});
  FileTools::ExpectEnd(tag_, in_);
  return std::move(network_);
}

void NetworkReader::ReadInformation() {
  for (;;) {
    Next("NetworkInformation");
    if (!IsValue()) break;
    if (tag_.open) Fail("Too complicated statement");
    const int value = Integer();
    if (Is(tag_.name, "NUMBEROFLAYERS"))
      numLayers_ = value;
    else if (Is(tag_.name, "INPUTLAYER"))
      inLayer_ = value;
    else if (Is(tag_.name, "OUTPUTLAYER"))
      outLayer_ = value;
    else if (Is(tag_.name, "NUMBEROFINPUTS"))
      numInputs_ = value;
    else if (Is(tag_.name, "NUMBEROFOUTPUTS"))
      numOutputs_ = value;
    else if (Is(tag_.name, "BIASLAYER"))
      biasLayer_ = value;
    else
      Fail("Unknown keyword");
  }
  FileTools::ExpectEnd(tag_, in_);
}

void NetworkReader::MakeNetwork() {
  if (numLayers_ < 0) Fail("Must specify number of layers");
  if (outLayer_ < 0) outLayer_ = numLayers_ - 1;

  if (Is(typeText_, "KOHONEN")) {
    network_ = std::make_unique<TKohonenNetwork>();
  } else {
    const bool basic = Is(typeText_, "BASIC");
    if (!basic && !Is(typeText_, "CONNECTED")) Fail("Unknown network type");
    if (numLayers_ > kMaxLayers) Fail("Too many layers");
    if (basic)
      network_ = std::make_unique<TBasicNetwork>(numLayers_);
    else
      network_ = std::make_unique<TConnectedNetwork>(numLayers_);
  }
  // A Kohonen network has three layers whatever the file says, so the layer
  // numbers are checked against the network actually built.
  if (inLayer_ < 0 || inLayer_ >= network_->numLayers) Fail("Input layer out of range");
  if (outLayer_ < 0 || outLayer_ >= network_->numLayers) Fail("Output layer out of range");
  network_->inLayer = inLayer_;
  network_->outLayer = outLayer_;
}

void NetworkReader::ReadDimensions() {
  Next("NeuralNetwork");
  if (!IsValue("Dimensions")) Fail("Missing dimensions in Kohonen");
  numDimensions_ = Integer();
  if (numDimensions_ < 0) Fail("Number of dimensions out of range");
  // Sizes are gathered by number first: the count alone must not decide an
  // allocation, since every dimension needs its own tag in the file.
  std::map<int, int> sizes;
  for (;;) {
    Next("Dimensions");
    if (!IsValue() || !tag_.open) break;
    if (!Is(tag_.name, "Dimension")) Fail("invalid dimension tag");
    const int j = Integer();
    if (j < 0 || j >= numDimensions_) Fail("Dimension number out of range");
    Item();
    if (!IsValue("Size") || tag_.open) Fail("'Size' tag required for dimension data");
    sizes[j] = Integer();
  }
  FileTools::ExpectEnd(tag_, in_);
  if (static_cast<int>(sizes.size()) != numDimensions_) Fail("Dimension without size");
  dimensions_.clear();
  for (const auto& entry : sizes) dimensions_.push_back(entry.second);
}

TActFunction NetworkReader::Function(const std::string& name) {
  // The registry answers an unknown name with the "error" function, which
  // would only fail once the network is evaluated; refuse it here instead.
  const TFnRegistry& registry = *network_->registry;
  for (int i = 0; i < registry.count; ++i)
    if (Is(registry.entries[i].name, name)) return registry.GetFunction(name.c_str());
  Fail("Unknown activation function " + name);
}

int NetworkReader::ParamIndex(TBasicNeuron& neuron, const std::string& name) {
  const int n = neuron.GetNumParams();
  for (int j = 0; j < n; ++j)
    if (Is(neuron.GetParamName(j), name)) return j;
  Fail("Unknown neuron parameter " + name);
}

void NetworkReader::ReadLayer(int layerNum) {
  std::string layerType;
  int count = -1;
  TBasicLayer* layer = nullptr;
  TActFunction layerFn = nullptr;
  std::vector<double> params;     // one value per parameter position
  std::vector<char> layerValue;   // a layer-level value was given for the position

  for (;;) {
    Next("Layer");
    if (tag_.kind == FileTools::TagStart && Is(tag_.name, "ALL")) {
      if (!tag_.open) Fail("[ALL] is incomplete statment");
      Item();
      if (!IsValue()) Fail("Required syntax is [ALL <keyword>=<val>]");
    } else if (!IsValue()) {
      break;
    }
    if (tag_.open) Fail("Too complicated statement");

    if (Is(tag_.name, "LAYERTYPE")) {
      layerType = tag_.value;
    } else if (Is(tag_.name, "NUMBEROFNEURONS")) {
      count = Integer();
    } else if (Is(tag_.name, "ACTIVATIONFUNCTION")) {
      layerFn = Function(tag_.value);
    } else {
      if (layer == nullptr) Fail("Neuron parameter " + tag_.name + " before the layer is built");
      if (layer->numNeurons == 0) Fail("Unknown neuron parameter " + tag_.name);
      const int j = ParamIndex(*layer->GetNeuron(0), tag_.name);
      params[j] = Number();
      layerValue[j] = 1;
    }

    if (layer == nullptr && count >= 0 && !layerType.empty()) {
      if (layerNum == network_->inLayer && numInputs_ >= 0 && numInputs_ != count)
        Fail("wrong number inputs in header");
      if (layerNum == network_->outLayer && numOutputs_ >= 0 && numOutputs_ != count)
        Fail("wrong number outputs in header");
      TBasicNetwork::LayerPtr built;
      if (Is(layerType, "SIMPLE"))
        built = std::make_unique<TSimpleLayer>(network_.get(), layerNum, count);
      else if (Is(layerType, "INPUT"))
        built = std::make_unique<TSimpleInputLayer>(network_.get(), layerNum, count);
      else if (Is(layerType, "GAIN"))
        built = std::make_unique<TGainLayer>(network_.get(), layerNum, count, 1.0);
      else
        Fail("Unknown layer type");
      layer = built.get();
      network_->SetLayer(layerNum, std::move(built));
      int numParams = 0;
      for (int i = 0; i < count; ++i) numParams = std::max(numParams, layer->GetNeuron(i)->GetNumParams());
      params.assign(static_cast<size_t>(numParams), 0.0);
      layerValue.assign(static_cast<size_t>(numParams), 0);
    }
  }

  if (layer == nullptr) Fail("Layer " + std::to_string(layerNum) + " lacks LayerType or NumberOfNeurons");
  if (layerFn != nullptr) layer->SetActFunction(layerFn);

  if (IsStart("Neurons")) {
    ReadNeurons(*layer, layerFn, params);
  } else {
    for (char given : layerValue)
      if (!given) Fail("Incomplete Layer information");
    for (int i = 0; i < layer->numNeurons; ++i) layer->GetNeuron(i)->SetParams(params.data());
  }
  FileTools::ExpectEnd(tag_, in_);
}

void NetworkReader::ReadNeurons(TBasicLayer& layer, TActFunction layerFn, std::vector<double>& params) {
  std::vector<char> defined(static_cast<size_t>(layer.numNeurons), 0);
  for (;;) {
    Next("Neurons");
    if (!IsValue("Neuron")) break;
    const int i = Integer();
    if (i < 0 || i >= layer.numNeurons) Fail("Neuron number out of range");
    if (defined[i]) Fail("repeated neuron");
    TBasicNeuron& neuron = *layer.GetNeuron(i);
    TActFunction neuronFn = nullptr;
    while (tag_.open) {
      Item();
      if (!IsValue()) Fail("Equals clause expected in neuron parameter");
      if (Is(tag_.name, "ACTIVATIONFUNCTION"))
        neuronFn = Function(tag_.value);
      else
        params[ParamIndex(neuron, tag_.name)] = Number();
    }
    // Positions this neuron does not name keep the value stored last, by an
    // All line or by an earlier neuron.
    neuron.SetParams(params.data());
    if (layerFn == nullptr) {
      if (neuronFn == nullptr) Fail("No activation function defined");
      neuron.SetActFunction(neuronFn);
    }
    defined[i] = 1;
  }
  FileTools::ExpectEnd(tag_, in_);
  Next("Layer");
  for (char d : defined)
    if (!d) Fail("Neuron not defined");
}

void NetworkReader::ReadConnections() {
  int from = -1;
  int to = -1;
  std::string type;
  for (;;) {
    Next("ConnectionLayer");
    if (IsStart("Attributes")) {
      // The attribute words describe the set's kind, which ConnectionType
      // already gives; they are skipped.
      while (tag_.open) Item();
      continue;
    }
    if (!IsValue()) break;
    if (tag_.open) Fail("Too complicated statement");
    if (Is(tag_.name, "LAYERFROM"))
      from = Integer();
    else if (Is(tag_.name, "LAYERTO"))
      to = Integer();
    else if (Is(tag_.name, "CONNECTIONTYPE"))
      type = tag_.value;
    else
      Fail("Unknown keyword in connections");
  }

  const bool full = Is(type, "FULLYCONNECTED");
  if (from < 0 || to < 0 || (!full && !Is(type, "PRUNEABLE")))
    Fail("Insufficient information to construct layer");
  if (from >= network_->numLayers || to >= network_->numLayers) Fail("Layer number out of range");
  // Whole-set operations count weights in 32 bits.
  const int64_t possible = int64_t{network_->GetLayer(from)->numNeurons} * network_->GetLayer(to)->numNeurons;
  if (possible > INT_MAX) Fail("Too many weights");
  if (network_->GetConnections(from, to)->IsConnected()) Fail("Connections already defined");

  TBasicNetwork::ConnsPtr made;
  if (full) {
    made = std::make_unique<TConnectedConnections>(network_.get(), from, to);
  } else {
    auto pruned = std::make_unique<TPrunedConnections>(network_.get(), from, to);
    // Weights the file does not mention stay absent.
    std::fill(pruned->array_masks.begin(), pruned->array_masks.end(), char{0});
    std::fill(pruned->array_weights.begin(), pruned->array_weights.end(), 0.0);
    made = std::move(pruned);
  }
  TBasicConnections& conns = *made;
  network_->SetConnections(std::move(made));

  // Several weight blocks may follow one another; later values overwrite
  // earlier ones.
  for (;;) {
    if (IsStart("Matrix"))
      ReadMatrix(conns);
    else if (IsStart("WeightList"))
      ReadWeightList(conns);
    else
      break;
    Next("ConnectionLayer");
  }
  FileTools::ExpectEnd(tag_, in_);
  Next("NeuralNetwork");
}

void NetworkReader::ReadMatrix(TBasicConnections& conns) {
  std::array<Column, kMaxMatrixColumns> columns{};
  int numColumns = 0;
  while (tag_.open) {
    Item();
    if (tag_.kind != FileTools::TagStart) Fail("Keyword expected in matrix parameter");
    Column column;
    if (Is(tag_.name, "WEIGHTS"))
      column = kWeightColumn;
    else if (Is(tag_.name, "TRAINABLEINFO"))
      column = kTrainableColumn;
    else
      Fail("Unknown matrix attribute");
    if (numColumns == kMaxMatrixColumns) Fail("Too many matrix attributes");
    columns[numColumns++] = column;
  }

  const int nFrom = network_->GetLayer(conns.fromLayer)->numNeurons;
  const int nTo = network_->GetLayer(conns.toLayer)->numNeurons;
  // The cells go straight into the set's arrays (to-neuron-major): this is
  // the loop that reads almost all of a large file.
  auto* pruned = dynamic_cast<TPrunedConnections*>(&conns);
  double* const weights = pruned != nullptr ? pruned->array_weights.data()
                                            : static_cast<TConnectedConnections&>(conns).array_weights.data();
  char* const masks = pruned != nullptr ? pruned->array_masks.data() : nullptr;

  if (numColumns > 0) {
    for (int r = 0; r < nFrom; ++r) {
      for (int s = 0; s < nTo; ++s) {
        const size_t cell = static_cast<size_t>(s) * static_cast<size_t>(nFrom) + static_cast<size_t>(r);
        for (int c = 0; c < numColumns; ++c) {
          Next("Matrix");
          if (tag_.kind != FileTools::TagToken) Fail("Token Expected");
          const std::string& token = tag_.name;
          const bool dash = token.size() == 1 && token[0] == '-';
          if (columns[c] == kWeightColumn) {
            if (dash) {
              if (masks == nullptr) Fail("FullyConnected weights cannot be pruned");
              masks[cell] = 0;
              weights[cell] = 0.0;
            } else {
              const double value = FileTools::ParseNumber(in_, token);
              if (masks != nullptr && (masks[cell] & FMaskExists) == 0) masks[cell] = FMaskAll;
              weights[cell] = value;
            }
          } else {
            const bool exists = masks == nullptr || (masks[cell] & FMaskExists) != 0;
            if (Is(token, "T")) {
              if (exists && masks != nullptr) masks[cell] |= FMaskTrainable;
            } else if (Is(token, "F")) {
              if (masks == nullptr) Fail("FullyConnected weights cannot be frozen");
              masks[cell] &= static_cast<char>(~FMaskTrainable);
            } else if (exists) {
              Fail("Trainable flag T or F expected");
            }
          }
        }
      }
    }
  }
  Next("Matrix");
  FileTools::ExpectEnd(tag_, in_);
}

void NetworkReader::ReadWeightList(TBasicConnections& conns) {
  const int nFrom = network_->GetLayer(conns.fromLayer)->numNeurons;
  const int nTo = network_->GetLayer(conns.toLayer)->numNeurons;
  const bool full = dynamic_cast<TPrunedConnections*>(&conns) == nullptr;
  for (;;) {
    Next("WeightList");
    if (tag_.kind != FileTools::TagValue && tag_.kind != FileTools::TagStart) break;
    int from = -1;
    int to = -1;
    bool haveFrom = false;
    bool haveTo = false;
    double weight = 0.0;
    bool trainable = true;
    for (bool first = true; first || tag_.open; first = false) {
      if (!first) Item();
      if (tag_.kind == FileTools::TagValue) {
        if (Is(tag_.name, "FROM")) {
          from = Integer();
          haveFrom = true;
        } else if (Is(tag_.name, "TO")) {
          to = Integer();
          haveTo = true;
        } else if (Is(tag_.name, "WEIGHT")) {
          weight = Number();
        } else {
          Fail("Unknown keyword in weights list");
        }
      } else if (tag_.kind == FileTools::TagStart) {
        if (Is(tag_.name, "TRAINABLE")) {
          trainable = true;
        } else if (Is(tag_.name, "UNTRAINABLE")) {
          trainable = false;
        } else {
          std::cout << tag_.name << std::endl;
          Fail("Unknown keyword in weights list");
        }
      } else {
        Fail("Unexpected end of file");
      }
    }
    if (!haveFrom || !haveTo) Fail("Insufficient information in weights list");
    if (from < 0 || from >= nFrom || to < 0 || to >= nTo) Fail("Weight index out of range");
    if (full && !trainable) Fail("FullyConnected weights cannot be frozen");
    conns.RestoreWeight(from, to);
    if (trainable)
      conns.MakeTrainable(from, to);
    else
      conns.MakeUntrainable(from, to);
    conns.Weight(from, to) = weight;
  }
  FileTools::ExpectEnd(tag_, in_);
}

}  // namespace

std::unique_ptr<TBasicNetwork> ReadNetwork(FileTools& tools, std::istream& in,
                                           std::unique_ptr<TKQstructure> message) {
  message.reset();
  NetworkReader reader(tools, in);
  return reader.Read();
}

std::unique_ptr<TBasicNetwork> LoadNetworkFile(FileTools& tools, const char* fileName,
                                               std::unique_ptr<TKQstructure> message) {
  message.reset();
  // A large buffer: the weight matrix makes up almost all of a big file.
  std::vector<char> buffer(size_t{1} << 20);
  std::ifstream file;
  file.rdbuf()->pubsetbuf(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  file.open(fileName, std::ios::in | std::ios::binary);
  if (!file.is_open()) throw FileTools::Error("Error on File Open", nullptr);
  return ReadNetwork(tools, file);
}
