// The document's polling: the polling thread runs over the scanners of whatever configuration
// the document holds, from the moment it holds one, and stops before the tree goes.
#include "app/document.h"

#include <gtest/gtest.h>

#include "exchange/polling.h"
#include "model/desc_branch.h"
#include "protocol/network_settings.h"
#include "unit/model/scratch_folder.h"

namespace kvtr {
namespace {

class DocumentTest : public ::testing::Test {
 protected:
  DocumentTest() {
    DocumentOptions options;
    options.descriptorFile = std::filesystem::path(KVTR_BIN_DIR) / "kvtr.tree.dat";
    options.portChoices = " ";
    document_ = std::make_unique<Document>(options);
    // No line: every exchange fails at once on a port that does not exist.
    document_->engine().programPortNode().SetValueByName(kPortParameterName, "/nonexistent/kvtr-test-port");
  }
  bool polling() { return document_->engine().polling().scanThreadRunning(); }

  std::unique_ptr<Document> document_;
  testing_support::ScratchFolder folder_;
};

TEST_F(DocumentTest, PollingRunsOverTheScannersOfEveryConfigurationTheDocumentHolds) {
  EXPECT_FALSE(polling()) << "nothing to poll before there is a tree";

  ASSERT_TRUE(document_->NewDocument());
  EXPECT_TRUE(polling());
  DescBranch* scanners = document_->tree()->scanners();
  ASSERT_NE(scanners, nullptr);
  const Parameter* inputs = scanners->FindParameter("r.Cn");
  ASSERT_NE(inputs, nullptr);
  EXPECT_TRUE(inputs->isPolled()) << "each scanner has its timer, ready to be armed";

  // A configuration opened from a file gets a polling thread of its own.
  const auto file = folder_.path() / "module.kvtr";
  ASSERT_TRUE(document_->SaveDocument(file));
  ASSERT_TRUE(document_->OpenDocument(file, false));
  EXPECT_TRUE(polling());
  EXPECT_NE(document_->tree()->scanners()->FindParameter("r.Cn"), inputs) << "a new tree was loaded";

  // A file that cannot be read leaves the open configuration, and its polling goes on.
  EXPECT_FALSE(document_->OpenDocument(folder_.path() / "missing.kvtr", true));
  ASSERT_NE(document_->tree(), nullptr);
  EXPECT_TRUE(polling());

  // Shutting the engine down stops polling; the next configuration starts it again.
  (void)document_->engine().Shutdown();
  EXPECT_FALSE(polling());
  ASSERT_TRUE(document_->NewDocument());
  EXPECT_TRUE(polling());
}

}  // namespace
}  // namespace kvtr
