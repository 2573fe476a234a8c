#include "Kohonen/TrainMPI/MpiProcessGroup.h"

#include <algorithm>
#include <cstdio>

namespace mapsmith {

namespace {

constexpr int kTag = 17;
constexpr std::size_t kPiece = std::size_t{1} << 30;  // bytes per MPI call

// Calls piece(offset, length) over `bytes` bytes in pieces that fit MPI's
// int counts (at least once, so that empty messages still travel).
template <class Piece>
void InPieces(std::size_t bytes, Piece piece) {
  std::size_t done = 0;
  do {
    const int length = static_cast<int>(std::min(kPiece, bytes - done));
    piece(done, length);
    done += static_cast<std::size_t>(length);
  } while (done < bytes);
}

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
  InPieces(bytes, [&](std::size_t at, int length) { MPI_Send(p + at, length, MPI_BYTE, to, kTag, comm_); });
}

void MpiProcessGroup::Receive(int from, void* data, std::size_t bytes) {
  char* p = static_cast<char*>(data);
  InPieces(bytes, [&](std::size_t at, int length) {
    MPI_Status status;
    MPI_Recv(p + at, length, MPI_BYTE, from, kTag, comm_, &status);
    int got = 0;
    MPI_Get_count(&status, MPI_BYTE, &got);
    if (got != length) {
      // Both sides run the same program: a mismatch is a fault of ours.
      std::fprintf(stderr, "MapsmithTrainMPI: process %d expected %d bytes from process %d, got %d\n", rank_,
                   length, from, got);
      MPI_Abort(comm_, 1);
    }
  });
}

void MpiProcessGroup::Broadcast(int root, void* data, std::size_t bytes) {
  char* p = static_cast<char*>(data);
  InPieces(bytes, [&](std::size_t at, int length) { MPI_Bcast(p + at, length, MPI_BYTE, root, comm_); });
}

}  // namespace mapsmith
