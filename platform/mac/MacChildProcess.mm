// SPDX-License-Identifier: Apache-2.0
#include "platform/mac/MacChildProcess.h"

#import <Foundation/Foundation.h>

#include "platform/mac/MacValues.h"

namespace vxm::platform {

namespace {

class TaskChild final : public ChildProcess {
public:
    explicit TaskChild(NSTask* task) : task_(task) {}

    void waitUntilExit() override { [task_ waitUntilExit]; }

private:
    NSTask* task_;
};

}  // namespace

Result<std::unique_ptr<ChildProcess>> MacChildProcesses::start(const std::string& executablePath,
                                                               const std::vector<std::string>& arguments) {
    NSString* path = stringWith(executablePath);
    if (path == nil) {
        return Error{executablePath + ": the path is not UTF-8 text"};
    }
    NSMutableArray<NSString*>* taskArguments = [NSMutableArray arrayWithCapacity:arguments.size()];
    for (const std::string& argument : arguments) {
        NSString* text = stringWith(argument);
        if (text == nil) {
            return Error{executablePath + ": an argument is not UTF-8 text"};
        }
        [taskArguments addObject:text];
    }
    NSTask* task = [[NSTask alloc] init];
    task.executableURL = [NSURL fileURLWithPath:path];
    task.arguments = taskArguments;
    NSError* error = nil;
    if (![task launchAndReturnError:&error]) {
        return Error{executablePath + ": " + errorText(error)};
    }
    return std::unique_ptr<ChildProcess>(std::make_unique<TaskChild>(task));
}

}  // namespace vxm::platform
