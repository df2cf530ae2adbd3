#pragma once

// The texts that the service answers in "msg". The client compares most of
// them exactly, so they are kept here once. The last group is the fake's own
// wording for cases the client has no text for.

namespace FakeMessages {

inline constexpr char ObjectPathError[] = "object path error";
inline constexpr char SyncJournalExpired[] = "sync_journal is expired or commited or fail";
inline constexpr char AgentKeyNotMatch[] = "agent_key not match in sync_journal";
inline constexpr char CachingDataExpired[] = "caching data expired or not set";
inline constexpr char QuotaFull[] = "Quota 已滿";
inline constexpr char QuotaError[] = "Quota Error";
inline constexpr char Quota[] = "Quota";
inline constexpr char ParentNotExist[] = "parent not exist";
inline constexpr char ParentOfDestNotExist[] = "parent of dest not exist";
inline constexpr char FileNotExist[] = "file not exist";
inline constexpr char FileRecycled[] = "file has been recycled";
inline constexpr char FileNotFound[] = "file not found in metadata";
inline constexpr char DestFileExists[] = "dest file exists";
inline constexpr char OrigFileNotFound[] = "orig file not found in metadata";
inline constexpr char OrigFileRecycled[] = "orig file has been recycled";
inline constexpr char FolderExists[] = "folder already exist";
inline constexpr char FolderRecycled[] = "folder has been recycled";
inline constexpr char FolderNotFound[] = "folder not found in metadata";
inline constexpr char OrigFolderNotFound[] = "orig folder not found in metadata";
inline constexpr char OrigFolderRecycled[] = "orig folder has been recycled";
inline constexpr char DestFolderExists[] = "dest folder exists";
inline constexpr char AgentNotRegistered[] = "user agent not register";

inline constexpr char AccessKeyInvalid[] = "access_key is invalid or expired";
inline constexpr char FormEncodingError[] = "request body is not form encoded";
inline constexpr char ReqDescError[] = "req_desc error";
inline constexpr char PositionError[] = "last_commit_time error";
inline constexpr char MissingField[] = "missing field: ";
inline constexpr char MultipartError[] = "request body is not a valid multipart form";
inline constexpr char UploadFileMissing[] = "upload_file missing or not the last part";
inline constexpr char PartSizeError[] = "p_size does not match upload_file";
inline constexpr char UploadActionError[] = "unknown upload action";

}  // namespace FakeMessages
