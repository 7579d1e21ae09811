// vrel-reference: vrel with the block-by-block loop, which reads, writes and reports every block
// on its own. Not installed: tests and benchmarks compare vrel's chunked loop with it. Same
// command line, progress channel and exit statuses as vrel.
#include "worker/mm.h"

int main(int argc, char** argv) {
  return worker::Main(argc, argv, worker::BlockLoop::kBlockByBlock);
}
