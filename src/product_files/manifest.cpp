#include "product_files/manifest.h"

namespace sealprobe {

const std::array<NativeStringView, 34> kProductFileManifest = {
    SP_TEXT("tv-Common.v5.21.40.0.dll"),
    SP_TEXT("tv-HostBridge.dll"),
    SP_TEXT("tv-NetBridge.dll"),
    SP_TEXT("tv-StageOne.dll"),
    SP_TEXT("tv-ReshapeStage.dll"),
    SP_TEXT("tv-GuardStage.dll"),
    SP_TEXT("tv-MarkupStage.dll"),
    SP_TEXT("tv-RelayStage.dll"),
    SP_TEXT("tv-StageCommon.v5.21.40.0.dll"),
    SP_TEXT("tv-RasterStage.dll"),
    SP_TEXT("tv-Strings.dll"),
    SP_TEXT("tv-Messaging.v5.21.40.0.dll"),
    SP_TEXT("tv-Palette.dll"),
    SP_TEXT("tv-ShellVerbs.dll"),
    SP_TEXT("tv-ShellVerbsRelay.dll"),
    SP_TEXT("TarvoSetup.exe"),
    SP_TEXT("TarvoGlance.exe"),
    SP_TEXT("TarvoOptions.exe"),
    SP_TEXT("TarvoInquiry.exe"),
    SP_TEXT("TarvoOptionsStore.exe"),
    SP_TEXT("TvEnroll.exe"),
    SP_TEXT("SealProbe.exe"),
    SP_TEXT("SealProbe.exe"),
    SP_TEXT("TarvoPopup.exe"),
    SP_TEXT("TarvoTaskWatch.exe"),
    SP_TEXT("TarvoTaskWatchStarter.exe"),
    SP_TEXT("TarvoTaskWatchDaemon.exe"),
    SP_TEXT("tv-QueueHook.dll"),
    SP_TEXT("TarvoWorkspace.exe"),
    SP_TEXT("Workspace.exe"),
    SP_TEXT("TarvoPanel.exe"),
    SP_TEXT("Panel.exe"),
    SP_TEXT("TarvoMonitor.exe"),
    SP_TEXT("Monitor.exe"),
};

}  // namespace sealprobe
