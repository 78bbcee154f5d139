// The listing's thorough column: whole, partial, or joined for a file rebuilt
// from two pieces.
#include <gtest/gtest.h>

#include "Listing.h"
#include "app/Session.h"

namespace kestrum::cli {
namespace {

TEST(Listing, ThoroughColumnMarksPartialAndJoinedFiles) {
    session().foundFiles.clear();
    FileInfo whole{"JPEG", "File1.JPEG", 8, 3};
    FileInfo partial{"JPEG", "File2.JPEG", 20, 4};
    partial.partial = true;
    FileInfo joined{"JPEG", "File3.JPEG", 40, 6};
    joined.joinSector = 90;
    joined.firstPieceBytes = 1024;
    for (const FileInfo& f : {whole, partial, joined}) session().foundFiles.append(f);
    testing::internal::CaptureStdout();
    FoundListing(true).printNew();
    const std::string out = testing::internal::GetCapturedStdout();
    session().foundFiles.clear();
    EXPECT_EQ(out,
              "File1.JPEG\tJPEG\t8\t3\twhole\n"
              "File2.JPEG\tJPEG\t20\t4\tpartial\n"
              "File3.JPEG\tJPEG\t40\t6\tjoined\n");
}

}  // namespace
}  // namespace kestrum::cli
