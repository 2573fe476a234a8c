// Arbitrary bytes read as a network file. Reading either fails with a
// FileTools::Error or gives a complete network: every layer present, the
// input and output layers among them and every connection set shaped like
// its two layers. The network is then used: a Kohonen map runs the winner
// search, winner coordinates, the labelled map, reconstruction and the
// labelling of rows; any other network propagates an input. What was read is
// written, read again and written again: the second reading must succeed and
// both texts must be the same bytes. The writer's refusal of a bias layer
// with several neurons ends the round.
//
// Sizes of any magnitude are allowed: the reader must refuse what the input
// cannot hold before allocating it. Run with a memory limit, e.g.
// -rss_limit_mb=2048 -malloc_limit_mb=1024.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/NetworkFile.h"
#include "NeuralNets/TConnectedConnections.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPrunedConnections.h"

namespace {

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

// Every operation of the map that turns neuron numbers into grid coordinates
// or back, on three labelled rows made from the input's bytes.
void RunMap(TKohonenNetwork& map, const std::string& text) {
  const int n = map.GetLayer(1)->numNeurons;
  Data rows(3, n, 0, true);
  std::vector<double> x(static_cast<size_t>(n > 0 ? n : 1));
  for (int r = 0; r < 3; ++r) {
    for (int j = 0; j < n; ++j) x[j] = text.empty() ? 0.0 : (static_cast<unsigned char>(text[(r * 7 + j) % text.size()]) - 96) / 8.0;
    const TLabelList labels(r == 1 ? "b" : "a", 1.0);
    rows.AddRow(x.data(), nullptr, &labels);
  }
  map.FindWinner(x.data(), x.data());
  auto coords = map.WinnerCoordinates(&rows);
  auto labelled = map.LabelMap(&rows);
  map.ReconstructData(&rows);
  int labelledRows = 0;
  for (int k = 0; k < labelled->MbrNdxRows; ++k) labelledRows += labelled->GetLabels(k)->count() > 0 ? 1 : 0;
  Check(labelled->MbrNdxDataRows == map.GetLayer(2)->numNeurons);  // every neuron has its row
  Check(labelledRows >= 1);                                         // the rows' labels arrived
  auto relabelled = LabelRows(coords.get(), labelled.get());
  for (int k = 0; k < 3; ++k) Check(relabelled->GetLabels(k)->count() > 0);  // each row finds its neuron
}

void Propagate(TBasicNetwork& net) {
  std::vector<double> in(static_cast<size_t>(net.GetLayer(net.inLayer)->numNeurons) + 1, 0.5);
  std::vector<double> out(static_cast<size_t>(net.GetLayer(net.outLayer)->numNeurons) + 1, 0.0);
  net.Propagate(in.data(), out.data());
}

std::string Write(FileTools& tools, TBasicNetwork& net) {
  std::ostringstream out;
  WriteNetwork(tools, out, &net);
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::cerr.rdbuf(nullptr);  // the layers' warnings during propagation
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
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
  if (auto* map = dynamic_cast<TKohonenNetwork*>(net.get()))
    RunMap(*map, text);
  else if (CanPropagate(*net))  // a layer without functions may be read, never run
    Propagate(*net);

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
