// The progress channel kept in the per-user settings store (see platform/core/progress_channel.h).
#pragma once

#include <string>
#include <string_view>

#include "platform/core/progress_channel.h"
#include "platform/core/settings_store.h"
#include "worker/fc.h"

namespace worker {

class StoreChannel final : public ProgressChannel {
 public:
  StoreChannel() : store_(platform::kChannelApplication) {}
  bool Put(std::string_view key, std::string_view value, std::string* error) override;
  bool Holds(const platform::FileIdentity& id) const override { return store_.Holds(id); }
  // One copy at a time for a user: see platform::SettingsStore::TakeRunLock.
  platform::SettingsStore::RunLock TakeRunLock(std::string* error) {
    return store_.TakeRunLock(error);
  }

 private:
  platform::SettingsStore store_;
};

}  // namespace worker
