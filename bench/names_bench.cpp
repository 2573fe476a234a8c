// Building long label lists and messages with many keywords: each new name is
// looked up first, so the cost per name must not grow with the list.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "DataObject/Labels.h"
#include "KQmessage/KQML.h"

namespace {

std::vector<std::string> Names(int count) {
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) names.push_back("label" + std::to_string(i));
  return names;
}

// Distinct labels added to one list (items: labels).
void BM_LabelListAdd(benchmark::State& state) {
  const auto names = Names(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TLabelList list;
    for (const std::string& name : names) list.Add(name, 1.0);
    benchmark::DoNotOptimize(list.labels.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LabelListAdd)->Arg(16)->Arg(40000)->Arg(60000)->Unit(benchmark::kMillisecond);

// Distinct keywords set in one message (items: keywords).
void BM_KQstructureSet(benchmark::State& state) {
  const auto names = Names(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    TKQstructure message("data");
    for (const std::string& name : names) message.SetString(name, "1");
    benchmark::DoNotOptimize(message.GetCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_KQstructureSet)->Arg(16)->Arg(40000)->Unit(benchmark::kMillisecond);

}  // namespace
