// The texts the update panel shows, in UTF-8 as every text of the programs.
#pragma once

namespace marlix {

inline constexpr char kTextConnectingPanel[] = "서버에 연결 중입니다...";
inline constexpr char kTextVersionShown[] = "우편번호 버전 정보입니다.";
inline constexpr char kTextConnecting[] = "서버에 연결 중입니다.";
inline constexpr char kTextDownloadingFormat[] = "%s 다운로드...";
inline constexpr char kTextDownloadDone[] = "다운로드가 완료되었습니다.";
inline constexpr char kTextNetworkFailure[] = "네트워크 연결을 확인해 주세요.";
inline constexpr char kTextCannotSaveFormat[] = "%s 파일을 저장할 수 없습니다.\n\n%s";
// A file that arrived but is not taken, with its name; the old file stays.
inline constexpr char kTextUnsignedFormat[] = "%s 파일에 서명이 없어 받지 않았습니다.";
inline constexpr char kTextBadSignatureFormat[] = "%s 파일의 서명이 올바르지 않아 받지 않았습니다.";
inline constexpr char kTextTooLargeFormat[] = "%s 파일이 너무 커서 받지 않았습니다.";
// Signed bytes that are not the file their name says (a service without a manifest).
inline constexpr char kTextWrongFormFormat[] = "%s 파일의 내용이 올바르지 않아 받지 않았습니다.";
// The signed manifest of an edition: what each file of the set must be.
inline constexpr char kTextNotListedFormat[] = "%s 파일이 배포 목록과 달라 받지 않았습니다.";
inline constexpr char kTextBadManifest[] = "배포 목록(manifest.txt)을 읽을 수 없어 받지 않았습니다.";
inline constexpr char kTextOlderEditionFormat[] =
    "서버의 우편번호(%s판)가 이 컴퓨터의 우편번호(%s판)보다 오래되어 받지 않았습니다.";
inline constexpr char kTextUpToDate[] = "이미 최신 우편번호입니다.";
inline constexpr char kTextDownloadCancelled[] = "다운로드를 취소했습니다. 다음에 받은 데까지 이어서 받습니다.";
// A server without a manifest sends whole files only: nothing to resume.
inline constexpr char kTextDownloadStopped[] = "다운로드를 취소했습니다.";
// After the bytes and percent of a running transfer; the %s are numbers.
inline constexpr char kTextTimeLeftPrefix[] = ", 남은 시간 약 ";
// The editions installed here and on the server, beside each other.
inline constexpr char kTextEditionsFormat[] = "이 컴퓨터: %s / 서버: %s";
inline constexpr char kTextEditionFormat[] = "%s판";
inline constexpr char kTextDatedEditionFormat[] = "%s판 (%s)";
inline constexpr char kTextNoEdition[] = "판 정보 없음";
inline constexpr char kTextSecondsFormat[] = "%s초";
inline constexpr char kTextMinutesFormat[] = "%s분 %s초";
inline constexpr char kTextHoursFormat[] = "%s시간 %s분";
inline constexpr char kTextDiskFull[] = "디스크 공간이 부족합니다.";

}  // namespace marlix
