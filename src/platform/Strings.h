// The numbered user-visible texts in English and Japanese, and the choice between the two.
#pragma once

namespace remcons {

enum class Language { kEnglish, kJapanese };

// The language of the string table and of the Japanese literal forms. Starts from the locale
// (LC_ALL, LC_MESSAGES, LANG beginning with "ja"); the desktop may set it from its own locale.
Language UiLanguage();
void SetUiLanguage(Language language);
// True where a Japanese text form and the "MS UI Gothic" font apply.
inline bool JapaneseForms() {
  return UiLanguage() == Language::kJapanese;
}

// The numbers of the texts in the tables.
enum StringId : int {
  kStrSessionAcquired = 110,
  kStrFirmwareUpdate = 111,
  kStrDriveInUse = 112,
  kStrInvalidSessionKey = 113,
  kStrSessionKeyExpired = 115,
  kStrDriveNotConfigured = 116,
  kStrPermissionRequired = 117,
  kStrCannotConnectDrive = 118,
  kStrInvalidImageType = 119,
  kStrConnecting = 130,
  kStrConnectingToLeader = 131,
  kStrVideoSuspended = 132,
  kStrSessionFull = 133,
  kStrLeaderNotAccepting = 134,
  kStrConnectionLost = 135,
  kStrLeaderConnectionLost = 136,
  kStrElapsedTime = 137,
  kStrLeaderEndedConnection = 138,
  kStrLeaderClosedSession = 139,
  kStrChooseFolder = 140,
  kStrCannotMountFolder = 141,
  kStrFolderTooLarge = 142,
  kStrNoMemory = 143,
  kStrFileError = 144,
  kStrFileCopyError = 145,
  kStrFolderPathError = 146,
  kStrTooManyRootEntries = 147,
  kStrInvalidSector = 148,
  kStrInvalidBufferSize = 149,
  kStrUnknownFolderError = 150,
  kStrAccepted = 151,
  kStrUserDisconnected = 153,
  kStrJoinRequest = 154,
  kStrUserJoined = 155,
  kStrControlRequested = 156,
  kStrControlRelinquished = 157,
  kStrLeaderDisconnectedUser = 158,
};

// String number id of the current language's table, UTF-8; "" for a number without a text.
const char* LoadString(int id);
// The same from a chosen table.
const char* LoadString(int id, Language language);

}  // namespace remcons
