#include "worker/store_channel.h"

namespace worker {

bool StoreChannel::Put(std::string_view key, std::string_view value, std::string* error) {
  return store_.Write(platform::kChannelSection, key, value, error);
}

}  // namespace worker
