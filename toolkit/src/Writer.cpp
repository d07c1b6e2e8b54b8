#include "keltk/Writer.h"

#include "keltk/Exception.h"

namespace keltk {

struct TWriter::Impl {};

TWriter::TWriter() : impl_(new Impl) {}
TWriter::~TWriter() { delete impl_; }
void TWriter::WriteData(TComponent*) { throw EWriteError("not implemented"); }

} // namespace keltk
