#include "Kohonen/TrainMPI/MapsmithTrainMPI.h"

#include <mpi.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>

#include "Kohonen/Train/DistributedTraining.h"
#include "Kohonen/TrainMPI/MpiProcessGroup.h"

namespace {

// MPI for the length of one run, unless the caller started it already.
class MpiSession {
 public:
  MpiSession() {
    int running = 0;
    MPI_Initialized(&running);
    if (running) return;
    int provided = 0;
    // Worker threads never call MPI; only the thread that started it does.
    MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided);
    owner_ = true;
  }
  ~MpiSession() {
    if (owner_) MPI_Finalize();
  }
  MpiSession(const MpiSession&) = delete;
  MpiSession& operator=(const MpiSession&) = delete;

 private:
  bool owner_ = false;
};

}  // namespace

int RunMapsmithTrainMPI(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  MpiSession session;
  mapsmith::MpiProcessGroup group;
  mapsmith::TrainEnvironment env;
  env.terminal = group.Rank() == 0 && &err == &std::cerr && isatty(STDERR_FILENO) == 1;
  try {
    return mapsmith::RunDistributedTrain(group, "MapsmithTrainMPI", argc, argv, out, err, env);
  } catch (const std::exception& e) {
    // Not agreed with the other processes, which may be waiting for this
    // one: end them all rather than leave them hanging.
    std::fprintf(stderr, "MapsmithTrainMPI: %s (process %d on %s)\n", e.what(), group.Rank(), group.Host().c_str());
    MPI_Abort(MPI_COMM_WORLD, 1);
  }
  return 1;
}
