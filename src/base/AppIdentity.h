#pragma once

#include <QString>

namespace tarvik {

// The application's identity, shown in captions, messages and the about window.
namespace identity {
inline const QString projectName = QStringLiteral("Tarvik");
inline const QString description = QStringLiteral("Lotus Notes Email Migration Tool");
inline const QString applicationTitle = QStringLiteral("Quenbry");
inline const QString vendor = QStringLiteral("Veridane");
inline const QString mainCaption = QStringLiteral("Veridane Quenbry v1.0 Build 1608");
inline const QString aboutVersion = QStringLiteral("Version 1.0 Build 1608");
inline const QString supportEmail = QStringLiteral("support@veridane.example.com");
inline const QString infoEmail = QStringLiteral("info@veridane.example.com");
inline const QString webAddress = QStringLiteral("www.veridane.example.com");
inline const QString helpFileName = QStringLiteral("Help.chm");
} // namespace identity

} // namespace tarvik
