#include "keltk/Reader.h"

#include "keltk/Exception.h"

namespace keltk {

struct TReader::Impl {};

TReader::TReader(std::string_view, std::string) : impl_(new Impl) {}
TReader::~TReader() { delete impl_; }
void TReader::ReadData(TComponent*) { throw EReadError("not implemented"); }

} // namespace keltk
