#include "Kohonen/TrainMPI/MpiProcessGroup.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace mapsmith {

namespace {

constexpr int kTag = 17;
constexpr std::size_t kPiece = std::size_t{1} << 30;  // bytes per MPI call

int PieceOf(std::size_t bytes, std::size_t done) { return static_cast<int>(std::min(kPiece, bytes - done)); }

}  // namespace

MpiProcessGroup::MpiProcessGroup(MPI_Comm comm) : comm_(comm) {
  MPI_Comm_rank(comm_, &rank_);
  MPI_Comm_size(comm_, &size_);
  char name[MPI_MAX_PROCESSOR_NAME];
  int length = 0;
  MPI_Get_processor_name(name, &length);
  host_.assign(name, static_cast<std::size_t>(std::max(length, 0)));
}

void MpiProcessGroup::Send(int to, const void* data, std::size_t bytes) {
  const char* p = static_cast<const char*>(data);
  std::size_t done = 0;
  do {
    const int piece = PieceOf(bytes, done);
    MPI_Send(p + done, piece, MPI_BYTE, to, kTag, comm_);
    done += static_cast<std::size_t>(piece);
  } while (done < bytes);
}

void MpiProcessGroup::Receive(int from, void* data, std::size_t bytes) {
  char* p = static_cast<char*>(data);
  std::size_t done = 0;
  do {
    const int piece = PieceOf(bytes, done);
    MPI_Status status;
    MPI_Recv(p + done, piece, MPI_BYTE, from, kTag, comm_, &status);
    int got = 0;
    MPI_Get_count(&status, MPI_BYTE, &got);
    if (got != piece) {
      // Both sides run the same program: a mismatch is a fault of ours.
      std::fprintf(stderr, "MapsmithTrainMPI: process %d expected %d bytes from process %d, got %d\n", rank_, piece,
                   from, got);
      MPI_Abort(comm_, 1);
    }
    done += static_cast<std::size_t>(piece);
  } while (done < bytes);
}

void MpiProcessGroup::Broadcast(int root, void* data, std::size_t bytes) {
  char* p = static_cast<char*>(data);
  std::size_t done = 0;
  do {
    const int piece = PieceOf(bytes, done);
    MPI_Bcast(p + done, piece, MPI_BYTE, root, comm_);
    done += static_cast<std::size_t>(piece);
  } while (done < bytes);
}

}  // namespace mapsmith
