#include "Kohonen/Map/StreamedMapping.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <vector>

#include "FileHandler/Filer.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Common/DataFiles.h"
#include "Kohonen/Common/PlainDataSet.h"
#include "NeuralNets/WinnerWalk.h"

namespace mapsmith {

namespace {

// Thrown inside the atomic write to abandon it.
struct GiveUp {};

// What follows a winner's row inputs, as the data set writer writes a row
// with these outputs: two blanks, each output and a blank, the line end.
std::string WinnerText(TKohonenNetwork& map, const TPreparedMap& prepared, WinnerColumns columns, int winner) {
  std::vector<double> outputs;
  if (columns == WinnerColumns::Coordinates) {
    std::vector<int> coords(map.GridSizes().size());
    if (!coords.empty()) map.IndexToCoords(coords.data(), winner);
    outputs.assign(coords.begin(), coords.end());
  } else if (columns == WinnerColumns::Index) {
    outputs.push_back(winner);
  } else {
    outputs.resize(static_cast<std::size_t>(prepared.NumInputs()));
    prepared.CopyWeights(winner, outputs.data());
  }
  std::string text = "  ";
  char number[FileTools::GeneralNumberSize];
  for (const double value : outputs) {
    text += FileTools::FormatGeneral(value, number);
    text += ' ';
  }
  text += '\n';
  return text;
}

}  // namespace

bool MapRowsAsRead(TKohonenNetwork& map, const std::string& dataPath, WinnerColumns columns,
                   const std::string& outPath) {
  PlainDataSetReader reader;
  if (!reader.Open(dataPath) || reader.Inputs() != map.NumInputs()) return false;
  const int n = reader.Inputs();
  const std::int32_t rows = reader.Rows();
  const TPreparedMap prepared(map);
  TWinnerFinder finder(prepared);
  constexpr int kBlock = TWinnerFinder::kBlock;
  const int outputs = columns == WinnerColumns::Coordinates ? static_cast<int>(map.GridSizes().size())
                      : columns == WinnerColumns::Index     ? 1
                                                            : n;
  // Each neuron's text, made when it first wins; for maps whose texts would
  // take much memory (weight vectors of many neurons), made for each row.
  const bool keepTexts = static_cast<std::size_t>(prepared.NumNeurons()) * outputs <= (std::size_t{1} << 20);
  std::vector<std::string> winnerTexts(keepTexts ? static_cast<std::size_t>(prepared.NumNeurons()) : 1);

  std::vector<double> values(static_cast<std::size_t>(n) * kBlock);
  const double* xs[kBlock];
  for (int r = 0; r < kBlock; ++r) xs[r] = values.data() + static_cast<std::size_t>(r) * n;
  // A block's row texts, then the output gathered for large writes.
  const std::size_t rowRoom = static_cast<std::size_t>(n) * (PlainDataSetReader::kLongestNumber + 1);
  std::vector<char> rowTexts(rowRoom * kBlock);
  char* rowEnds[kBlock];
  constexpr std::size_t kWriteAt = std::size_t{1} << 18;
  // Room for a full write plus a block of rows with their longest winner
  // texts (found as they are made).
  std::size_t longestWinner = 0;
  std::vector<char> output(kWriteAt + rowRoom * kBlock);
  int winners[kBlock];

  try {
    WriteAtomically(outPath, [&](std::ostream& out) {
      FileTools tools;
      WriteDataSetHeader(tools, out, n, outputs, 0, 0, rows);
      std::size_t used = 0;
      for (std::int32_t done = 0; done < rows;) {
        const int count = static_cast<int>(std::min<std::int32_t>(kBlock, rows - done));
        for (int r = 0; r < count; ++r) {
          rowEnds[r] = reader.NextRow(values.data() + static_cast<std::size_t>(r) * n, rowTexts.data() + r * rowRoom);
          if (rowEnds[r] == nullptr) throw GiveUp{};
        }
        finder.Find(xs, count, winners);
        for (int r = 0; r < count; ++r) {
          std::string& winnerText = winnerTexts[keepTexts ? static_cast<std::size_t>(winners[r]) : 0];
          if (winnerText.empty() || !keepTexts) {
            winnerText = WinnerText(map, prepared, columns, winners[r]);
            if (winnerText.size() > longestWinner) {
              longestWinner = winnerText.size();
              output.resize(kWriteAt + (rowRoom + longestWinner) * kBlock);
            }
          }
          const char* const text = rowTexts.data() + r * rowRoom;
          const std::size_t length = static_cast<std::size_t>(rowEnds[r] - text);
          std::memcpy(output.data() + used, text, length);
          used += length;
          std::memcpy(output.data() + used, winnerText.data(), winnerText.size());
          used += winnerText.size();
        }
        if (used >= kWriteAt) {
          out.write(output.data(), static_cast<std::streamsize>(used));
          used = 0;
        }
        done += count;
      }
      if (!reader.Finish()) throw GiveUp{};
      out.write(output.data(), static_cast<std::streamsize>(used));
      WriteDataSetTrailer(tools, out);
    });
  } catch (const GiveUp&) {
    return false;
  }
  return true;
}

}  // namespace mapsmith
