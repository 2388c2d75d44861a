// SPDX-License-Identifier: Apache-2.0
// What the macOS sources use of NetworkExtension, declared from Apple's
// documentation of each name. For the syntax check only (GNUstep has no
// NetworkExtension): a build on a Mac uses the SDK's header.
#pragma once
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

// NEVPNStatus
typedef NS_ENUM(NSInteger, NEVPNStatus) {
    NEVPNStatusInvalid = 0,
    NEVPNStatusDisconnected = 1,
    NEVPNStatusConnecting = 2,
    NEVPNStatusConnected = 3,
    NEVPNStatusReasserting = 4,
    NEVPNStatusDisconnecting = 5,
};

#if defined(__cplusplus)
extern "C" {
#endif
// NEVPNStatusDidChangeNotification: posted with the connection as its object.
extern NSNotificationName const NEVPNStatusDidChangeNotification;
#if defined(__cplusplus)
}
#endif

// NEVPNProtocol: the members common to every kind of protocol.
@interface NEVPNProtocol : NSObject <NSCopying, NSSecureCoding>
// NEVPNProtocol.serverAddress
@property(copy, nullable) NSString* serverAddress;
@end

// NETunnelProviderProtocol: the protocol of a packet-tunnel provider.
@interface NETunnelProviderProtocol : NEVPNProtocol
// NETunnelProviderProtocol.providerBundleIdentifier
@property(copy, nullable) NSString* providerBundleIdentifier;
// NETunnelProviderProtocol.providerConfiguration: a property list.
@property(copy, nullable) NSDictionary<NSString*, id>* providerConfiguration;
@end

// NEVPNConnection: a configuration's tunnel.
@interface NEVPNConnection : NSObject
// -[NEVPNConnection startVPNTunnelAndReturnError:]
- (BOOL)startVPNTunnelAndReturnError:(NSError* _Nullable* _Nullable)error;
// -[NEVPNConnection stopVPNTunnel]
- (void)stopVPNTunnel;
// NEVPNConnection.status
@property(readonly) NEVPNStatus status;
@end

// NEVPNManager: one VPN configuration in the system's preferences.
@interface NEVPNManager : NSObject
// NEVPNManager.localizedDescription
@property(copy, nullable) NSString* localizedDescription;
// NEVPNManager.enabled (isEnabled)
@property(getter=isEnabled) BOOL enabled;
// NEVPNManager.protocolConfiguration
@property(strong, nullable) NEVPNProtocol* protocolConfiguration;
// NEVPNManager.connection
@property(readonly) NEVPNConnection* connection;
// -[NEVPNManager saveToPreferencesWithCompletionHandler:]
- (void)saveToPreferencesWithCompletionHandler:(nullable void (^)(NSError* _Nullable error))completionHandler;
// -[NEVPNManager loadFromPreferencesWithCompletionHandler:]
- (void)loadFromPreferencesWithCompletionHandler:(void (^)(NSError* _Nullable error))completionHandler;
// -[NEVPNManager removeFromPreferencesWithCompletionHandler:]
- (void)removeFromPreferencesWithCompletionHandler:(nullable void (^)(NSError* _Nullable error))completionHandler;
@end

// NETunnelProviderManager: a configuration served by a packet-tunnel provider.
@interface NETunnelProviderManager : NEVPNManager
// +[NETunnelProviderManager loadAllFromPreferencesWithCompletionHandler:]
+ (void)loadAllFromPreferencesWithCompletionHandler:
    (void (^)(NSArray<NETunnelProviderManager*>* _Nullable managers, NSError* _Nullable error))completionHandler;
@end

NS_ASSUME_NONNULL_END
