// Arbitrary bytes as a small map and data set (any doubles, NaN and infinities
// included): every prepared kernel must find the plain search's winners, the
// labelled map must give back its grid sizes and label rows by their winners,
// and coordinates that name no neuron must be refused with a TException, never
// a crash or an out-of-bounds read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/TException.h"
#include "NeuralNets/TErrorObj.h"
#include "NeuralNets/TKohonenNetwork.h"
#include "NeuralNets/TPreparedMap.h"

namespace {

struct Bytes {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  double Real() {
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | Byte();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in{data, size};
  const int n = 1 + in.Byte() % 6;
  const int d = 1 + in.Byte() % 3;
  int dims[3];
  for (int k = 0; k < d; ++k) dims[k] = 1 + in.Byte() % 4;
  const int rows = in.Byte() % 9;
  TKohonenNetwork net(n, d, dims);
  const int u = net.layers[2]->numNeurons;
  TBasicConnections* conns = net.GetConnections(1, 2);
  for (int i = 0; i < u; ++i)
    for (int j = 0; j < n; ++j) conns->Weight(j, i) = in.Byte() & 1 ? in.Real() : in.Byte() % 4;

  Data set(rows, n, 0, true);
  std::vector<double> x(n), y(n);
  for (int r = 0; r < rows; ++r) {
    for (double& v : x) v = in.Byte() & 1 ? in.Real() : in.Byte() % 4;
    TLabelList labels(in.Byte() & 1 ? "a" : "b", 1.0);
    set.AddRow(x.data(), nullptr, in.Byte() % 5 == 0 ? nullptr : &labels);
  }

  // Every kernel the processor has finds the plain search's winner.
  for (int lanes : {1, 2, 4, 8}) {
    if (!TPreparedMap::Supports(lanes)) continue;
    TPreparedMap map(net, lanes);
    for (int r = 0; r < rows; ++r) {
      const double* xs[] = {set.MbrDyaRtpInputs[r]};
      int winner = -1;
      map.FindWinners(xs, 1, &winner);
      if (winner != net.FindWinner(xs[0], y.data())) std::abort();
    }
  }

  auto labelled = net.LabelMap(&set);
  std::vector<int> sizes(d);
  GetMapSizes(labelled.get(), sizes.data());
  for (int k = 0; k < d; ++k)
    if (sizes[k] != dims[k]) std::abort();
  auto coords = net.WinnerCoordinates(&set);
  auto byRow = LabelRows(coords.get(), labelled.get());
  set.Rewind();
  for (int r = 0; r < rows; ++r) {
    set.GetNextRow(x.data(), nullptr, nullptr);
    const int winner = net.FindWinner(x.data(), y.data());
    if (byRow->GetLabels(r)->count() != labelled->GetLabels(winner)->count()) std::abort();
  }
  TErrorRMSObj err(n);
  net.MeasureError(&set, &err);
  if (err.count != rows) std::abort();

  // Coordinates straight from the bytes: looked up or refused.
  Data wild(2, 0, d, false);
  std::vector<double> c(d);
  for (int r = 0; r < 2; ++r) {
    for (double& v : c) v = in.Byte() & 1 ? in.Real() : static_cast<int8_t>(in.Byte()) / 16.0;
    wild.AddRow(nullptr, c.data(), nullptr);
  }
  try {
    LabelRows(&wild, labelled.get());
  } catch (const TException& e) {
    if (e.message != "Invalid Data Row") std::abort();
  }
  return 0;
}
