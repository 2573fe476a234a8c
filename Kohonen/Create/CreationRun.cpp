#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <new>
#include <ostream>

#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "Kohonen/Create/Mapsmith.h"
#include "KQmessage/Assert.h"
#include "KQmessage/TException.h"
#include "NeuralNets/Random.h"
#include "NeuralNets/TKohonenNetwork.h"

int CreateMap(const MapParameters& params, std::ostream& out, std::ostream& err) {
  // Validation has made one size per dimension.
  MAPSMITH_ASSERT(params.mapSizes.size() >= static_cast<std::size_t>(params.dimensions));
  try {
    auto network = std::make_unique<TKohonenNetwork>(params.inputs, params.dimensions,
                                                     params.mapSizes.data());
    SeedRandom(params.seed ? *params.seed : static_cast<std::uint32_t>(std::time(nullptr)));
    network->Randomize(params.minWeight, params.maxWeight);
    FileTools tools;
    SaveNetworkFile(tools, params.fileName.c_str(), network.get(), nullptr);
  } catch (const TException& e) {
    err << e.message << '\n' << e.kind << '\n' << e.origin << std::endl;
    return 1;
  } catch (FileTools::Error& e) {
    out << e.message << std::endl;
    return 1;
  } catch (const std::bad_alloc&) {
    err << "Not enough memory to create the map" << std::endl;
    return 1;
  }
  return 0;
}
