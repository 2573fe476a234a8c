#include "KQmessage/TException.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace {

TEST(TExceptionTest, ConstructorsCopyTheirTextsAndTreatNullAsEmpty) {
  const TException empty;
  EXPECT_EQ(empty.message, "");
  EXPECT_EQ(empty.kind, "");
  EXPECT_EQ(empty.origin, "");
  EXPECT_EQ(empty.reply, nullptr);

  char message[] = "Invalid Data Row";
  const TException twoTexts(message, nullptr);
  std::strcpy(message, "changed");  // the caller's buffer is not shared
  EXPECT_EQ(twoTexts.message, "Invalid Data Row");
  EXPECT_EQ(twoTexts.kind, "");
  EXPECT_EQ(twoTexts.origin, "");
  EXPECT_EQ(twoTexts.reply, nullptr);

  const TException withKind("Data Block Fault", "Bad Parameter");
  EXPECT_EQ(withKind.kind, "Bad Parameter");
}

TEST(TExceptionTest, CopyIsIndependentOfItsSourceIncludingTheReply) {
  auto reply = TKQstructure::MakeError("invalid-message");
  reply->SetString("expected", "rows");
  auto source = std::make_unique<TException>("Invalid Data Row", "Bad Parameter",
                                             "Data::SetRow", std::move(reply));
  const TException copy(*source);
  ASSERT_NE(copy.reply, nullptr);
  EXPECT_NE(copy.reply.get(), source->reply.get());
  source->reply->SetString("expected", "columns");
  source.reset();  // the source dies first
  EXPECT_EQ(copy.message, "Invalid Data Row");
  EXPECT_EQ(copy.kind, "Bad Parameter");
  EXPECT_EQ(copy.origin, "Data::SetRow");
  std::ostringstream text;
  copy.reply->Print(text);
  EXPECT_EQ(text.str(), "(error :type invalid-message :expected rows)");

  TException assigned;
  assigned = copy;
  const TException& alias = assigned;
  assigned = alias;  // self-assignment keeps the record
  ASSERT_NE(assigned.reply, nullptr);
  EXPECT_NE(assigned.reply.get(), copy.reply.get());
  EXPECT_EQ(assigned.origin, "Data::SetRow");
  assigned = TException("Data Block Fault", nullptr);
  EXPECT_EQ(assigned.reply, nullptr);
  EXPECT_EQ(assigned.origin, "");
}

void RefuseRow() {
  // The thrower's texts live in a buffer that is gone once the stack unwinds.
  std::string origin = "Data::GetInputDatum";
  throw TException("Invalid Data Row", "Bad Parameter", origin.c_str(), nullptr);
}

TEST(TExceptionTest, ThrownByValueReachesAHandlerIntact) {
  // The tool's handler writes message, kind and origin on lines of their own.
  std::ostringstream err;
  try {
    RefuseRow();
    FAIL() << "no exception";
  } catch (const TException& e) {
    err << e.message << '\n' << e.kind << '\n' << e.origin << '\n';
    EXPECT_EQ(e.reply, nullptr);
  }
  EXPECT_EQ(err.str(), "Invalid Data Row\nBad Parameter\nData::GetInputDatum\n");
}

}  // namespace
