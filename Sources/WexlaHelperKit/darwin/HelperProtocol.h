// The XPC protocol between the application and the helper. Every reply takes one Boolean.
#import <Foundation/Foundation.h>

@protocol HelperProtocol
- (void)setDisableSleep:(BOOL)on withReply:(void (^)(BOOL ok))reply;
- (void)heartbeatWithReply:(void (^)(BOOL ok))reply;
- (void)currentDisableSleepWithReply:(void (^)(BOOL on))reply;
@end
