// One pose of the robot (joint positions and simulated time) handed from the emulator's cycle to
// a drawing thread. The cycle only copies a few numbers under the lock; drawing happens outside.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace torvane_sim {

class PoseMailbox {
 public:
  explicit PoseMailbox(int nq) : qpos_(static_cast<size_t>(nq)) {}

  // Leaves a pose for the drawing thread. While the last one is still untaken, kWait blocks
  // until it is taken (or the mailbox closes); kDrop returns false and leaves the untaken pose
  // to stand for one more frame (a video keeps its timeline); kReplace overwrites it (a window
  // shows only the newest).
  enum class Full { kWait, kDrop, kReplace };
  bool Put(const double* qpos, double time, Full full) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (full_ && full == Full::kDrop) {
      ++frames_;
      return false;
    }
    if (full == Full::kWait) taken_.wait(lock, [this] { return !full_ || closed_; });
    std::copy(qpos, qpos + qpos_.size(), qpos_.begin());
    time_ = time;
    frames_ = 1;
    full_ = true;
    lock.unlock();
    posted_.notify_one();
    return true;
  }

  // Takes the pose into `qpos` (nq values) and `time`, waiting for one, with the number of
  // frames it stands for; false once the mailbox is closed and empty.
  bool Take(double* qpos, double& time, int& frames) {
    std::unique_lock<std::mutex> lock(mutex_);
    posted_.wait(lock, [this] { return full_ || closed_; });
    return TakeLocked(lock, qpos, time, frames);
  }

  // Takes the pose if there is one, without waiting.
  bool TryTake(double* qpos, double& time) {
    std::unique_lock<std::mutex> lock(mutex_);
    int frames = 0;
    return TakeLocked(lock, qpos, time, frames);
  }

  // No more poses: Take returns what is left, then false.
  void Close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    posted_.notify_all();
    taken_.notify_all();
  }

 private:
  bool TakeLocked(std::unique_lock<std::mutex>& lock, double* qpos, double& time, int& frames) {
    if (!full_) return false;
    std::copy(qpos_.begin(), qpos_.end(), qpos);
    time = time_;
    frames = frames_;
    full_ = false;
    lock.unlock();
    taken_.notify_one();
    return true;
  }

  std::mutex mutex_;
  std::condition_variable posted_, taken_;
  std::vector<double> qpos_;
  double time_ = 0;
  int frames_ = 0;
  bool full_ = false, closed_ = false;
};

}  // namespace torvane_sim
