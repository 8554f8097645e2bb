// A host's message sink that keeps what it is sent, set for the life of the
// object and removed after it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "velmora.h"

struct RecordedMessage {
    int32_t severity;
    int32_t source;
    std::string text;
    bool operator==(const RecordedMessage&) const = default;
};

class RecordedMessages {
public:
    // SetSink is velmoraSetMessageSink or the library's own setter.
    template <class SetSink>
    RecordedMessages(SetSink set, int32_t runtimeLevel) : remove_([set] { set(nullptr, nullptr, 0); }) {
        set(&RecordedMessages::receive, this, runtimeLevel);
    }
    ~RecordedMessages() { remove_(); }
    RecordedMessages(const RecordedMessages&) = delete;
    RecordedMessages& operator=(const RecordedMessages&) = delete;

    std::vector<RecordedMessage> from(int32_t source) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<RecordedMessage> found;
        for (const RecordedMessage& m : all_)
            if (m.source == source) found.push_back(m);
        return found;
    }

private:
    // The runtime may log from several threads at once.
    static void receive(void* self, int32_t severity, int32_t source, const char* text) {
        auto* messages = static_cast<RecordedMessages*>(self);
        std::lock_guard<std::mutex> lock(messages->mutex_);
        messages->all_.push_back({severity, source, text});
    }

    std::function<void()> remove_;
    mutable std::mutex mutex_;
    std::vector<RecordedMessage> all_;
};
