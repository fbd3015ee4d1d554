// The command-line tests link the image library, whose libraries start and
// end thread pools of their own: the leak check is made once every test is
// done, while those threads still wait.
#include <gtest/gtest.h>

#include "images/image_files.h"

namespace {

class LeakCheckWhileTheLibraryWaits : public testing::Environment {
public:
    void TearDown() override { zoka_images::CheckLeaksNow(); }
};

testing::Environment* const kLeakCheck = testing::AddGlobalTestEnvironment(new LeakCheckWhileTheLibraryWaits);

}  // namespace
