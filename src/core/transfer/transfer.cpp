#include "transfer/transfer.h"

#include "frame/my_exception.h"

MyAbstructTransfer::~MyAbstructTransfer() = default;

std::string MyAbstructTransfer::GetName() const {
    return " ";
}

bool MyAbstructTransfer::BeforeRun() {
    return true;
}

NamedTransfer::NamedTransfer(std::string name) : name_(std::move(name)) {}

std::string NamedTransfer::GetName() const {
    return name_;
}

bool SingleAction::BeforeRun() {
    return true;
}

bool SingleAction::AfterRun() {
    return false;
}

SingleFunctionAction::SingleFunctionAction(Function function, void* data, std::string name)
    : SingleAction(std::move(name)), function_(function), data_(data) {
    MY_CHECK(function_);
}

void SingleFunctionAction::Run() {
    function_(data_);
}
