#pragma once

#include <memory>
#include <string>

// The unit of instrument work. The queue and the worker share ownership of a transfer; Run()
// happens on the worker thread and fails by exception.
class MyAbstructTransfer {
  public:
    virtual ~MyAbstructTransfer();
    // Shown in notifications and error boxes.
    virtual std::string GetName() const;
    // false: the transfer leaves the queue without running.
    virtual bool BeforeRun();
    // After a successful run: true sends the transfer back to the end of the queue, false
    // finishes it.
    virtual bool AfterRun() = 0;
    virtual void Run() = 0;
};

using TransferPtr = std::shared_ptr<MyAbstructTransfer>;

class NamedTransfer : public MyAbstructTransfer {
  public:
    explicit NamedTransfer(std::string name);
    std::string GetName() const override;

  private:
    std::string name_;
};

// A transfer that runs once.
class SingleAction : public NamedTransfer {
  public:
    using NamedTransfer::NamedTransfer;
    bool BeforeRun() override;
    bool AfterRun() override;
};

// A single action that calls function(data).
class SingleFunctionAction : public SingleAction {
  public:
    using Function = void (*)(void* data);
    SingleFunctionAction(Function function, void* data, std::string name);
    void Run() override;

  private:
    Function function_;
    void* data_;
};
