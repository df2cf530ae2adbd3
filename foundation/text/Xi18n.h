#pragma once

// The user-visible texts of the agent. Each text has a name (the enumerator of
// XText), a 16-bit string-table id (the enumerator's value, 65392..65535) and a
// text per language. Code fetches a text by name at the moment it shows it and
// never keeps it, so that a language switch takes effect at once. Any thread
// may fetch texts and switch the language.
//
// Placeholders in the texts follow the syntax of FormatText (TextFormat.h).

#include <QString>
#include <QStringView>

#include <span>
#include <string_view>

// X(name, id, Traditional Chinese text) for every text, in table order.
#define TESSARON_XI18N_TEXTS(X) \
    X(_Lcid, 65520, u"1028") \
    X(_Lang1028, 65521, u"繁體中文") \
    X(_Lang1033, 65522, u"英文") \
    X(_CompanyName, 65523, u"岱霖通聯") \
    X(_APPName, 65524, u"翠嵐檔案匣") \
    X(_Login, 65525, u"登入系統中") \
    X(_Syncing, 65526, u"同步中") \
    X(_Synced, 65527, u"已同步") \
    X(_SyncFail, 65528, u"同步失敗") \
    X(_MenuResync, 65529, u"重新同步") \
    X(_MenuResync_Syncing, 65530, u"同步中") \
    X(_MenuUpdate, 65531, u"更新軟體") \
    X(_MenuUpdate_Updating, 65532, u"更新軟體中") \
    X(_Connecting, 65533, u"連線中......") \
    X(_Connected, 65534, u"已連線......") \
    X(_ConnectFail, 65535, u"連線失敗") \
    X(_ConfirmNetwork, 65504, u"請確認您的網路連線狀態") \
    X(_UserNotBinding, 65505, u"尚未綁定使用者帳號") \
    X(_QuotaUsed, 65506, u"使用空間") \
    X(_Querying, 65507, u"查詢中") \
    X(_QuotaUsedReport, 65508, u"已使用空間：%0f%% (共有 %0.1f %s)") \
    X(_QuotaFullMsg, 65509, u"Quota已滿，請調整使用空間") \
    X(_UL, 65510, u"上傳") \
    X(_DL, 65511, u"下載") \
    X(_Sec, 65512, u"秒") \
    X(_Min, 65513, u"分") \
    X(_Hour, 65514, u"時") \
    X(_Add, 65515, u"新增") \
    X(_Update, 65516, u"修改") \
    X(_Delete, 65517, u"刪除") \
    X(_Added, 65518, u"已新增") \
    X(_Updated, 65519, u"已修改") \
    X(_Deleted, 65488, u"已刪除") \
    X(_TransferProgress, 65489, u"正在%s \"%s\" (%.01f KB/%s, %.0f %s)") \
    X(_HomePage, 65490, u"首頁") \
    X(_Comma, 65491, u"，") \
    X(_Colon, 65492, u"：") \
    X(_ConfigSuccess, 65493, u"設定完成") \
    X(_MkdirFail, 65494, u"無法建立資料夾") \
    X(_ML0101, 65495, u"檔案使用中，稍後同步") \
    X(_ML0102, 65496, u"'%s'使用中，稍後再同步") \
    X(_ML0103, 65497, u"%d個檔案使用中，稍後再同步") \
    X(_ML0104, 65498, u"資料夾同步中") \
    X(_ML0105, 65499, u"資料夾已同步至最新版本") \
    X(_ML0201, 65500, u"已新增至最新版本") \
    X(_ML0202, 65501, u"已更新至最新版本") \
    X(_ML0203, 65502, u"已同步了 %d 個檔案") \
    X(_ML0204, 65503, u"Quota尚未設定 (前往調整使用空間)") \
    X(_ML0205, 65472, u"Quota已滿 (前往調整使用空間)") \
    X(_ML0206, 65473, u"(點擊後直接查看)") \
    X(_ML0301, 65474, u"尚未開放空間加購") \
    X(_ML0302, 65475, u"登入系統中") \
    X(_ML0303, 65476, u"使用者尚未登入") \
    X(_ML0304, 65477, u"尚未啟用 %s 服務") \
    X(_ML0305, 65478, u"%s 新版本(%s)已經下載完成，關閉程式並馬上更新？") \
    X(_ML0306, 65479, u"%s 新測試版本(%s)已經下載完成，關閉程式並馬上更新？") \
    X(_ML0307, 65480, u"目前程式已經是最新版") \
    X(_ML0308, 65481, u"與伺服器連線失敗") \
    X(_ML0309, 65482, u"您的設定檔已變更，程式將自動進入登入畫面") \
    X(_ML0310, 65483, u"同步目錄已變更，程式將重新同步檔案") \
    X(_ML0311, 65484, u"設定同步目錄失敗，請稍後再試") \
    X(_ML0312, 65485, u"正在下載系統所需元件") \
    X(_ML0313, 65486, u"已下載系統所需元件，啟動") \
    X(_ML0314, 65487, u"\"下載系統所需元件失敗，請檢查您的網路設定，或重新安裝") \
    X(_ML0315, 65456, u"下載系統所需元件失敗") \
    X(_ML0316, 65457, u"%s 新版本(%s)已經下載完成，程式將會關閉並重新安裝") \
    X(_ML0317, 65458, u"找不到主程式，請重新安裝 %s") \
    X(_ML0318, 65459, u"設定已變更，請重新登入") \
    X(_ML0319, 65460, u"帳號密碼驗證錯誤，請重新登入") \
    X(_ML0401, 65461, u"與岱霖通聯會員中心連線失敗，請稍後再試") \
    X(_MBR91, 65462, u"資料輸入錯誤") \
    X(_MBR92, 65463, u"檢查碼錯誤") \
    X(_MBR93, 65464, u"帳號密碼錯誤") \
    X(_MBR94, 65465, u"IP錯誤") \
    X(_MBR95, 65466, u"通行碼無效") \
    X(_MBR96, 65467, u"登入通行碼過期") \
    X(_MBR99, 65468, u"其他錯誤") \
    X(_MBR00, 65469, u"未知錯誤") \
    X(_MY900001, 65470, u"資料輸入錯誤") \
    X(_MY100002, 65471, u"ClientId錯誤") \
    X(_MY100012, 65440, u"otpw錯誤") \
    X(_MY100014, 65441, u"請先啟用Pelta帳號") \
    X(_MY000000, 65442, u"登入失敗") \
    X(_ML0501, 65443, u"這台電腦之前與帳號 %s 綁定過，您要沿用之前的設定嗎？") \
    X(_ML0502, 65444, u"開始使用") \
    X(_ML0503, 65445, u"系統設定中，請稍候 ...") \
    X(_ML0504, 65446, u"系統設定完成") \
    X(_ML0505, 65447, u"發生錯誤了") \
    X(_ML0506, 65448, u"請輸入帳號密碼") \
    X(_ML0507, 65449, u"請輸入電腦名稱") \
    X(_ML0508, 65450, u"請先閱讀使用者條款") \
    X(_ML0509, 65451, u"重新登入") \
    X(_ML0510, 65452, u"這個目錄下已經存在%s同步目錄，目錄中的檔案將會一併和遠端同步，您確定要使用這個目錄嗎?") \
    X(_ML0511, 65453, u"同步目錄已存在") \
    X(_ML0512, 65454, u"等待伺服器回應中") \
    X(_ML0513, 65455, u"認證中") \
    X(_ML0514, 65424, u"認證失敗，帳號密碼不正確") \
    X(_ML0515, 65425, u"設定完成") \
    X(_ML0516, 65426, u"設定") \
    X(_ML0517, 65427, u"您確定要離開 ") \
    X(_ML0518, 65428, u"離開") \
    X(_ML0519, 65429, u"歡迎使用 ") \
    X(_ML0520, 65430, u"登入至 ") \
    X(_ML0521, 65431, u"按此啟用") \
    X(_ML0522, 65432, u"您已成功啟用 ") \
    X(_ML0523, 65433, u"預設將%s同步目錄建立在") \
    X(_ML0524, 65434, u"進階設定-同步路徑") \
    X(_ML0525, 65435, u"將%s 同步資料匣放置在") \
    X(_ML0601, 65436, u" 設定 版本:") \
    X(_ML0602, 65437, u"同步資料夾路徑") \
    X(_ML0603, 65438, u"此台電腦尚未與岱霖通聯會員帳號綁定") \
    X(_ML0604, 65439, u"此台電腦已與 %s 綁定") \
    X(_ML0605, 65408, u"帳號資訊 本機電腦(%s)") \
    X(_ML0606, 65409, u"此台電腦尚未綁定") \
    X(_ML0607, 65410, u"使用者尚未登入 ") \
    X(_ML0608, 65411, u"確定要取消綁定?") \
    X(_ML0609, 65412, u"取消綁定確認") \
    X(_ML0610, 65413, u"請輸入有效的頻寬設定") \
    X(_ML0611, 65414, u"目錄 %s 已存在") \
    X(_ML0612, 65415, u"請選擇目錄") \
    X(_ML0613, 65416, u"請輸入正確的Proxy設定") \
    X(_ML0614, 65417, u"連線成功") \
    X(_ML0615, 65418, u"連線失敗：請檢查Proxy設定") \
    X(_ML0701, 65419, u"在所選的目錄之下建立 %s 同步目錄...") \
    X(_ML0702, 65420, u"請選擇目錄") \
    X(_ML0703, 65421, u"%s同步目錄已經存在，其中檔案將會一併和伺服器同步，您確定要使用這個目錄嗎?") \
    X(_ML0704, 65422, u"同步目錄已存在") \
    X(_ML0705, 65423, u"同步目錄和主程式安裝目錄相同，請重新選取") \
    X(_ML0801, 65392, u"已經有另一個 %s 在執行")

enum class XText : int {
#define TESSARON_XI18N_ENUM(name, id, text) name = id,
    TESSARON_XI18N_TEXTS(TESSARON_XI18N_ENUM)
#undef TESSARON_XI18N_ENUM
};

namespace Xi18n {

// Language id of Traditional Chinese, the built-in language.
inline constexpr int DefaultLcid = 1028;

// The range of string-table ids the texts occupy.
inline constexpr int FirstTextId = 65392;
inline constexpr int LastTextId = 65535;

struct Entry {
    std::string_view name;  // the enumerator's name, e.g. "_APPName"
    int id;                 // the string-table id
    QStringView text;
};

// The text of the current language.
QString Text(XText name);

// The text with this string-table id in the current language, falling back to
// the built-in language; an empty string when no text has that id.
QString TextById(int id);

// The entries of the current language, in table order.
std::span<const Entry> Table();

// The language id of the current table.
int Language();

// Selects the table for the language id; an id without a table keeps the
// built-in language. Returns the language id now in effect.
int SetLanguage(int lcid);

}  // namespace Xi18n
