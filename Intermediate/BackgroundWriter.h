// Sequential writes of one target file on a thread of their own, so that writing one
// piece overlaps reading (and expanding) the next.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>

class CBackgroundWriter {
 public:
  explicit CBackgroundWriter(HANDLE target);
  CBackgroundWriter(const CBackgroundWriter&) = delete;
  CBackgroundWriter& operator=(const CBackgroundWriter&) = delete;
  ~CBackgroundWriter();

  HANDLE Target() const { return m_target; }
  // Copies the bytes into the current buffer, handing full buffers to the thread. 0, or
  // the negated Windows error of the first write that failed.
  int32_t Write(const uint8_t* bytes, uint64_t length);
  // Waits until everything handed over is written; the first error, as Write.
  int32_t Finish();

  // The writer that the writes of this thread to its target go through (null: none).
  static CBackgroundWriter* Current();
  class Use {
   public:
    explicit Use(CBackgroundWriter* writer);
    ~Use();
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

   private:
    CBackgroundWriter* m_previous;
  };

 private:
  static constexpr int kBuffers = 3;
  static constexpr uint32_t kBufferBytes = 1u << 20;
  static DWORD WINAPI ThreadMain(void* self);
  void Run();
  int32_t WriteNow(const uint8_t* bytes, uint32_t length);
  void Submit();

  HANDLE m_target;
  std::unique_ptr<uint8_t[]> m_memory;
  HANDLE m_thread = nullptr;  // null: writes are made at once on the caller's thread
  CRITICAL_SECTION m_lock;
  CONDITION_VARIABLE m_changed = CONDITION_VARIABLE_INIT;
  // Buffers in a ring: [m_next, m_next + m_queued) wait for the thread, the one at
  // m_next + m_queued is being filled; the thread writes m_next's.
  int m_next = 0;
  int m_queued = 0;
  bool m_stop = false;
  uint32_t m_lengths[kBuffers] = {};
  int32_t m_error = 0;
};
