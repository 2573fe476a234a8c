// Arbitrary bytes read as a network file. Reading either fails with a
// FileTools::Error or gives a complete network: every layer present, the
// input and output layers among them and every connection set shaped like
// its two layers. What was read is written, read again and written again:
// the second reading must succeed and both texts must be the same bytes. The
// writer's refusal of a bias layer with several neurons ends the round.
//
// Integers above 999 in the input are skipped: neuron and layer counts
// decide allocations, and the fuzzer should spend its time on the grammar,
// not on building huge networks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "FileHandler/NetworkFile.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TPrunedConnections.h"

namespace {

bool HasLargeInteger(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') continue;
    const char before = i > 0 ? text[i - 1] : ' ';
    const bool fraction = before == '.' || before == 'e' || before == 'E' || (before >= '0' && before <= '9');
    long value = 0;
    size_t j = i;
    for (; j < text.size() && text[j] >= '0' && text[j] <= '9'; ++j)
      if (value <= 999) value = value * 10 + (text[j] - '0');
    if (!fraction && value > 999) return true;
    i = j;
  }
  return false;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckNetwork(TBasicNetwork& net) {
  Check(net.inLayer >= 0 && net.inLayer < net.numLayers);
  Check(net.outLayer >= 0 && net.outLayer < net.numLayers);
  for (int l = 0; l < net.numLayers; ++l) Check(net.GetLayer(l) != nullptr);
  for (int to = 0; to < net.numLayers; ++to) {
    for (int from = 0; from < net.numLayers; ++from) {
      TBasicConnections* conns = net.GetConnections(from, to);
      Check(conns->fromLayer == from && conns->toLayer == to);
      const int nFrom = net.GetLayer(from)->numNeurons;
      const int nTo = net.GetLayer(to)->numNeurons;
      if (auto* full = dynamic_cast<TConnectedConnections*>(conns))
        Check(full->NumFrom() == nFrom && full->NumTo() == nTo);
      if (auto* pruned = dynamic_cast<TPrunedConnections*>(conns))
        Check(pruned->NumFrom() == nFrom && pruned->NumTo() == nTo);
    }
  }
  net.GetNumWeights(1);
}

std::string Write(FileTools& tools, TBasicNetwork& net) {
  std::ostringstream out;
  WriteNetwork(tools, out, &net);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (HasLargeInteger(text)) return 0;
  FileTools tools;
  std::istringstream in(text);
  std::unique_ptr<TBasicNetwork> net;
  try {
    net = ReadNetwork(tools, in);
  } catch (const FileTools::Error& e) {
    Check(!e.message.empty() && e.code == 0);
    return 0;
  }
  Check(net != nullptr);
  CheckNetwork(*net);

  std::string first;
  try {
    first = Write(tools, *net);
  } catch (const FileTools::Error& e) {
    Check(e.message == "Illegal number of bias nodes");
    return 0;
  }
  std::istringstream again(first);
  auto second = ReadNetwork(tools, again);  // any error here is a finding
  CheckNetwork(*second);
  Check(Write(tools, *second) == first);
  return 0;
}
