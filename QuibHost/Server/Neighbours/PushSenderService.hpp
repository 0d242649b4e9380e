#pragma once

#include <string>

namespace quib {

// What the connection server tells the push sender. Every operation returns at once.
class PushSenderService {
public:
    virtual ~PushSenderService() = default;
    virtual bool isConfigured() const = 0;
    // The phone is connected now: its outstanding alerts are dropped.
    virtual void deviceArrived(const std::string& deviceID) = 0;
    virtual void forget(const std::string& deviceID) = 0;
    virtual void resolved(const std::string& approvalID) = 0;
};

}  // namespace quib
