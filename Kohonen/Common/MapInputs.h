// Data to be run through a map, made to fit its inputs. The tools that map
// data (MapsmithMap, MapsmithLabel, MapsmithView) read their maps and data
// files through here, so every one of them has the same options for them and
// refuses the same misfits with the same messages.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Kohonen/Common/CommandLine.h"
#include "Kohonen/Common/DataFiles.h"
#include "NeuralNets/TKohonenNetwork.h"

namespace mapsmith {

// Adds to an option table what a tool that maps data offers after its own
// options: --inputs N (the first N input columns), --to FORMAT when
// `dataOutput` (the tool writes data sets), and the data input options
// (DataInputOptions).
void AddMapDataOptions(std::vector<OptionEntry>& options, bool dataOutput);

// Reads the map of a run (a network file or a codebook, recognised by
// content) and checks that it can map data: it has inputs (the readers see to
// its neurons, grid and weights). What the reader noticed is printed on `err`
// as warnings of `tool` (PrintWarnings) once the map is accepted. Throws
// RunError naming the file.
std::unique_ptr<TKohonenNetwork> ReadMapForRuns(const std::string& path, const char* tool, std::ostream& err);

// The value of --inputs, or 0 when it is not given. Throws UsageError.
int InputsFrom(const ParsedOptions& options);

// Reads the data file `path` and fits it to a map of `mapInputs` inputs.
// `selected` is the value of --inputs (0: not given). The data must have
// exactly mapInputs input columns, or, with --inputs N (N equal to
// mapInputs), at least N, of which the first N are kept. Every kept value
// must be finite. The returned set has mapInputs input columns, no output
// columns when columns were dropped, and the file's labels; once the data is
// accepted, what the reader noticed is printed on `err` as warnings of `tool`
// and not kept in the table. Throws RunError naming the data file (or the map file `mapPath` when
// --inputs does not match the map).
DataTable ReadDataForMap(const std::string& path, const DataInputChoice& input, int mapInputs, int selected,
                         const std::string& mapPath, const char* tool, std::ostream& err);
// The same for a table already read from `path`.
DataTable FitDataToMap(DataTable table, const std::string& path, int mapInputs, int selected,
                       const std::string& mapPath, const char* tool, std::ostream& err);
// Refuses (RunError naming `mapPath`) an --inputs value `selected` (0: not
// given) that is not the map's input count.
void CheckSelectedInputs(int mapInputs, int selected, const std::string& mapPath);

// The choice of an output format by --to (dataset, csv or sompak), for tools
// that write data sets. Unknown when --to is absent. Throws UsageError.
FileFormat DataOutputFrom(const ParsedOptions& options);

// Checks that `out` (the value of --out, empty: standard output) can receive
// a data set in `format`: a name that says map (.net, .cod) needs --to.
// Refuses an output that is one of `inputs`. Throws UsageError.
void CheckDataOutput(const std::string& out, FileFormat format, const std::vector<std::string>& inputs);

// The format that the output `out` (the value of --out, empty: standard
// output) gets: `format` when given, else by the name (a data set file on
// standard output).
FileFormat OutputFormat(const std::string& out, FileFormat format);

// The table to write in `format` (as OutputFormat gives it) for `result`,
// whose input columns are named `inputNames` (empty: no names). A data set
// file keeps the outputs apart; CSV and SOM_PAK columns cannot mark them, so
// there the outputs become further input columns, named `outputNames` when
// the inputs have names.
DataTable OutputTable(std::unique_ptr<Data> result, const std::vector<std::string>& inputNames,
                      const std::vector<std::string>& outputNames, FileFormat format);

// Writes `table` to `out` (the value of --out), or to `stdoutStream` as a
// data set file (or in `format`) when `out` is empty. What the format cannot
// hold exactly is added to `warnings`. Throws RunError.
void WriteDataOutput(const std::string& out, std::ostream& stdoutStream, const DataTable& table, FileFormat format,
                     std::vector<std::string>& warnings);

}  // namespace mapsmith
