// The network file: a network's layers, neuron functions and parameters,
// connection sets and weights (and a Kohonen map's dimensions) as tagged text.
#pragma once

#include <istream>
#include <memory>

#include "FileHandler/ParseTools.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/TBasicNetwork.h"

// ---------------------------------------------------------------- reading

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
