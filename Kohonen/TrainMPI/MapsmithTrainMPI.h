// MapsmithTrainMPI: MapsmithTrain's batch training with the rows spread over
// the processes of an MPI run (mpirun -np N MapsmithTrainMPI ...). Every
// process runs RunMapsmithTrainMPI with the same arguments; process 0 writes
// the trained map and prints, and every process returns the same status.
#pragma once

#include <iosfwd>

// Starts MPI when it is not running yet (and then ends it before returning).
// Exit status 0 on success, 1 when the run fails on any process, 2 for a
// wrong command line.
int RunMapsmithTrainMPI(int argc, const char* const* argv, std::ostream& out, std::ostream& err);
