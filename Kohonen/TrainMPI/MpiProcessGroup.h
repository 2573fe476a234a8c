// The processes of MPI_COMM_WORLD as a ProcessGroup. Only the thread that
// started MPI calls into it (the training's worker threads never do).
#pragma once

#include <mpi.h>

#include <string>

#include "Kohonen/Train/ProcessGroup.h"

namespace mapsmith {

class MpiProcessGroup final : public ProcessGroup {
 public:
  // MPI must be running (MPI_Init) for the life of the group.
  explicit MpiProcessGroup(MPI_Comm comm = MPI_COMM_WORLD);
  int Rank() const override { return rank_; }
  int Size() const override { return size_; }
  std::string Host() const override { return host_; }
  // Messages larger than MPI's int counts go in pieces.
  void Send(int to, const void* data, std::size_t bytes) override;
  void Receive(int from, void* data, std::size_t bytes) override;
  void Broadcast(int root, void* data, std::size_t bytes) override;

 private:
  MPI_Comm comm_;
  int rank_ = 0;
  int size_ = 1;
  std::string host_;
};

}  // namespace mapsmith
