// The network file: the tagged text form of a network (its layers, activation
// functions, neuron parameters, connection sets and every weight, plus the grid
// of a Kohonen map), and the operations that write and read it.
#pragma once

#include <iosfwd>
#include <istream>
#include <memory>

#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/TBasicNetwork.h"
#include "NeuralNets/TKohonenNetwork.h"

// ================================================================ writing

// Counts the weights shown to it.
class TIterateObjCount : public TIterateObj {
 public:
  int count = 0;
  void Visit() override { ++count; }
};

// Writes one line of a weight list per visited weight:
// "[From=a To=b Weight=w ]", with "Trainable" or "UnTrainable" after the
// weight when `writeTrainable` is set. The stream and context are not owned.
class TIterateObjSaveWeights : public TIterateObj {
 public:
  std::ostream& out;
  FileTools& tools;
  char writeTrainable;
  int precision;

  TIterateObjSaveWeights(std::ostream& out, FileTools& tools, bool writeTrainable, int precision)
      : out(out), tools(tools), writeTrainable(writeTrainable ? 1 : 0), precision(precision) {}
  void Visit() override;
};

// Writes `network` as a network file to `out`, and sets the stream's precision
// to 15. The network is not changed. Every function that a layer or neuron
// uses must be registered in the network's registry.
// Throws FileTools::Error:
//  - "Illegal number of bias nodes" for a layer whose common function is the
//    bias function and which has more than one neuron (what was written
//    before stays in the stream);
//  - "Error on File Write" when the stream has failed by the end (it is
//    flushed first), whatever the cause.
// `message` is taken over and released on entry; nothing is reported in it.
void WriteNetwork(FileTools& tools, std::ostream& out, TBasicNetwork* network,
                  std::unique_ptr<TKQstructure> message = nullptr);

// Writes `network` with WriteNetwork to the file `fileName`, replacing it
// whole or not at all: the text goes to a temporary file in the same
// directory, which is synced and renamed over the target only when complete
// (mapsmith::AtomicFile). An existing file keeps its permission bits; a
// symbolic link is written through to its target; a target that is not a
// regular file (/dev/stdout, /dev/null, a FIFO) is written directly.
// Throws FileTools::Error: "Error on File Open" when the file cannot be
// created (nothing is written), "Error on File Write" when a write, the sync
// or the rename fails, and WriteNetwork's own errors. A failed write leaves
// an existing file as it was; the writer's refusal of the network ("Illegal
// number of bias nodes") leaves the lines written before it in the file.
void SaveNetworkFile(FileTools& tools, const char* fileName, TBasicNetwork* network,
                     std::unique_ptr<TKQstructure> message = nullptr);

// ================================================================ reading

// Builds a network ("Basic", "Connected" or "Kohonen") from a network file and
// hands it to the caller. Every malformed or inconsistent file is reported as
// a `FileTools::Error`; no partly built network is ever returned. `message` is
// taken over and released on entry; nothing is reported through it.
//
// What the reader refuses beyond the grammar:
// - a Kohonen map its runs cannot use: fewer than one dimension, a dimension
//   size below 1, sizes whose product is not the map layer's neuron count, a
//   map layer without neurons, no connection set from layer 1 to layer 2;
// - storage the input cannot account for: the layers and connection sets may
//   take at most 64 MiB plus 16 bytes per byte of input ("Network larger than
//   the file"), checked before anything is allocated; a stream that cannot
//   tell its size (a pipe) counts as empty input;
// - "Not enough memory for the network" when an allocation fails;
// - "Error on File Read" when reading the stream fails (its buffer throws
//   std::ios_base::failure, as a file stream's buffer does on an I/O error).

// Opens `fileName` ("Error on File Open" when it cannot be opened or is a
// directory) and reads it with ReadNetwork. The file is closed on every exit.
std::unique_ptr<TBasicNetwork> LoadNetworkFile(FileTools& tools, const char* fileName,
                                               std::unique_ptr<TKQstructure> message = nullptr);

// Reads one network file from `in`. After the network's end tag only a
// format-version header may follow before the end of input.
std::unique_ptr<TBasicNetwork> ReadNetwork(FileTools& tools, std::istream& in,
                                           std::unique_ptr<TKQstructure> message = nullptr);

// Reads `fileName` with LoadNetworkFile and hands over the Kohonen map it
// holds. Throws FileTools::Error "Not a Kohonen network" when the file holds a
// network of another type, besides LoadNetworkFile's own errors.
std::unique_ptr<TKohonenNetwork> LoadKohonenNetwork(FileTools& tools, const char* fileName);
