#include "supervision/pipeException.h"

PipeException::PipeException(const std::string &message) : mMessage(message) {}

PipeException::~PipeException() = default;

const char *PipeException::what() const noexcept { return mMessage.c_str(); }
