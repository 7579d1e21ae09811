// vrel-reference: vrel with the block-by-block loop, which reads, writes and reports every block
// on its own. Not installed: tests and benchmarks compare vrel's chunked loop with it. Same
// command line, progress channel and exit statuses as vrel.
#include <cstdio>

#include "platform/core/message_queue.h"
#include "platform/core/number_text.h"
#include "worker/fc.h"
#include "worker/mm.h"
#include "worker/store_channel.h"

int main(int argc, char** argv) {
  (void)platform::InitUserLocale();
  platform::MessageQueue& queue = platform::MessageQueue::Process();
  if (!platform::BridgeTerminationSignals(queue)) {
    (void)std::fprintf(stderr, "vrel-reference: cannot handle termination signals\n");
  }
  const worker::CommandLine cl = worker::ParseCommandLine(worker::JoinArguments(argc, argv));
  if (!cl.complete) {
    (void)std::fprintf(stderr, "usage: vrel-reference <source>;<target>;<block size>\n");
    return worker::kExitBadCommandLine;
  }
  worker::StoreChannel channel;
  worker::CopyResult result;
  {
    worker::FC fc(channel, queue, worker::BlockLoop::kBlockByBlock);
    result = fc.Copy(cl.source, cl.target, cl.length, cl.variable_speed);
  }
  if (result.status == worker::CopyStatus::kFinished) return worker::kExitFinished;
  if (result.status == worker::CopyStatus::kStopped && result.stop_signal != 0) {
    platform::ReraiseSignal(result.stop_signal);
  }
  (void)std::fprintf(stderr, "vrel-reference: %s\n", result.error.c_str());
  return worker::kExitCopyFailed;
}
