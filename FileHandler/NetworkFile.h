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

// Creates (or empties) the file `fileName` and writes `network` into it with
// WriteNetwork. The file is closed on every path.
// Throws FileTools::Error: "Error on File Open" when the file cannot be
// created (nothing is written), "Error on File Write" when a write, the final
// flush or the close fails, and WriteNetwork's own errors.
void SaveNetworkFile(FileTools& tools, const char* fileName, TBasicNetwork* network,
                     std::unique_ptr<TKQstructure> message = nullptr);

// ================================================================ reading

// Builds a network ("Basic", "Connected" or "Kohonen") from a network file and
// hands it to the caller. Every malformed or inconsistent file is reported as
// a `FileTools::Error`; no partly built network is ever returned. `message` is
// taken over and released on entry; nothing is reported through it.

// Opens `fileName` ("Error on File Open" when it cannot be read) and reads it
// with ReadNetwork. The file is closed on every exit.
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
