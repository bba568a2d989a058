<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>Engine</name>
    <message>
        <source>作業用メモリ(%1 bytes)が確保できませんでした。</source>
        <translation>Could not allocate working memory (%1 bytes).</translation>
    </message>
    <message>
        <source>Data may be broken.</source>
        <translation>Data may be broken.</translation>
    </message>
    <message>
        <source>Oh, my god!</source>
        <translation>Oh, my god!</translation>
    </message>
    <message>
        <source>作業用メモリが確保できませんでした</source>
        <translation>out of memory</translation>
    </message>
    <message>
        <source>予期しないエラー：%1</source>
        <translation>unexpected error: %1</translation>
    </message>
    <message>
        <source>WAVEイメージが大きすぎます：フレーム %1～%2 はWAVEファイルの4 GiBを超えます。</source>
        <translation>WAVE image too large: frames %1 to %2 exceed the 4 GiB of a WAVE file.</translation>
    </message>
    <message>
        <source>%1 を開けません：%2</source>
        <translation>cannot open %1: %2</translation>
    </message>
    <message>
        <source>%1 を読めません：%2</source>
        <translation>cannot read %1: %2</translation>
    </message>
    <message>
        <source>%1 を読めません</source>
        <translation>cannot read %1</translation>
    </message>
    <message>
        <source>%1 に書き込めません：%2</source>
        <translation>cannot write %1: %2</translation>
    </message>
    <message>
        <source>%1 を作成できません：パスが長すぎます（%2 バイト）</source>
        <translation>cannot create %1: File name too long (the path has %2 bytes)</translation>
    </message>
    <message>
        <source>%1 を作成できません：ファイル名が長すぎます（%2 バイト、上限 %3 バイト）</source>
        <translation>cannot create %1: File name too long (a name of %2 bytes, at most %3)</translation>
    </message>
    <message>
        <source>通常のファイルではありません</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>ファイルが読み始めたときより短くなっています</source>
        <translation>the file is shorter than it was</translation>
    </message>
    <message>
        <source>ファイルが空です</source>
        <translation>the file is empty</translation>
    </message>
    <message>
        <source>ファイルが読み取り専用です</source>
        <translation>the file is read-only</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>ログファイル %1</source>
        <translation>the log file %1</translation>
    </message>
    <message>
        <source>イコライズしたコピー %1</source>
        <translation>the equalised copy %1</translation>
    </message>
    <message>
        <source>レポートファイル %1</source>
        <translation>the report file %1</translation>
    </message>
    <message>
        <source>プログラムフォルダ %1 に書き込めないため、設定と結果は %2 に保存します。</source>
        <translation>The program folder %1 is not writable; settings and results go to %2.</translation>
    </message>
    <message>
        <source>設定 [%1] %2=&quot;%3&quot; を保存できません：%4。何も保存していません</source>
        <translation>Settings: cannot store [%1] %2=&quot;%3&quot;: %4; nothing was stored</translation>
    </message>
    <message>
        <source>セクション名に改行かNULが含まれています</source>
        <translation>the section name holds a line break or NUL</translation>
    </message>
    <message>
        <source>キーが空か、改行・NUL・&apos;=&apos; を含むか、端に空白があるか、&apos;;&apos; &apos;#&apos; &apos;[&apos; で始まっています</source>
        <translation>the key is empty, holds a line break, NUL or &apos;=&apos;, has spaces at an end or begins with &apos;;&apos;, &apos;#&apos; or &apos;[&apos;</translation>
    </message>
    <message>
        <source>値に改行かNULが含まれています</source>
        <translation>the value holds a line break or NUL</translation>
    </message>
    <message>
        <source>値の先頭か末尾が空白です</source>
        <translation>the value begins or ends with a space</translation>
    </message>
    <message>
        <source>ユーザー設定ファイルを置くフォルダがありません（XDG_CONFIG_HOME も HOME も設定されていません）</source>
        <translation>no folder for the per-user settings file (neither XDG_CONFIG_HOME nor HOME is set)</translation>
    </message>
    <message>
        <source>%1（上書きしていません）</source>
        <translation>%1 (not overwritten)</translation>
    </message>
    <message>
        <source>設定を保存できませんでした：%1</source>
        <translation>Settings could not be saved: %1</translation>
    </message>
    <message>
        <source>ジョブに基準ファイルがありません</source>
        <translation>the job has no master file</translation>
    </message>
    <message>
        <source>改行を含むファイル名はジョブ履歴に保存できません</source>
        <translation>a file name with a line break cannot be stored in the job history</translation>
    </message>
    <message>
        <source>イコライジング：%1</source>
        <translation>Equalising: %1</translation>
    </message>
    <message>
        <source>同期ポイントの分析</source>
        <translation>Analysing the sync points</translation>
    </message>
    <message>
        <source>全体の粗い追跡</source>
        <translation>Tracking the whole recording</translation>
    </message>
    <message>
        <source>処理時間=%1H %2M %3S %4ms</source>
        <translation>Processing time=%1H %2M %3S %4ms</translation>
    </message>
    <message>
        <source>区間 %1-%2 : %3～%4 秒</source>
        <translation>Segment %1-%2 : %3–%4 s</translation>
    </message>
    <message>
        <source>Retry %1 at %2</source>
        <translation>Retry %1 at %2</translation>
    </message>
    <message>
        <source>同期確認：%1</source>
        <translation>Checking: %1</translation>
    </message>
    <message>
        <source>%1の作成</source>
        <translation>Making %1</translation>
    </message>
    <message>
        <source>作業スレッドを開始できません：%1</source>
        <translation>cannot start the worker thread: %1</translation>
    </message>
    <message>
        <source>ジョブはすでに実行中です</source>
        <translation>a job is running already</translation>
    </message>
    <message>
        <source>同期させるファイル %1 は基準ファイルそのものです。別のファイルを選んでください</source>
        <translation>the slave file %1 is the master file itself; choose another slave</translation>
    </message>
    <message>
        <source>基準ファイル %1 と同期させるファイル %2 は設定の同じセクション [%3] を使うことになります（保存する名前から角括弧は除かれます）。どちらかの名前を変えてください</source>
        <translation>the master file %1 and the slave file %2 would share one settings section [%3] (brackets are left out of stored names); rename one of them</translation>
    </message>
    <message>
        <source>基準ファイル %1 がジョブの実行中に変更または削除されました。見つかった分割点は保存しましたが、同期ファイルは作成していません</source>
        <translation>the master file %1 was changed or removed while the job ran; the division points found are stored, but no synchronised file was made</translation>
    </message>
    <message>
        <source>同期させるファイル %1 がジョブの実行中に変更または削除されました。見つかった分割点は保存しましたが、同期ファイルは作成していません</source>
        <translation>the slave file %1 was changed or removed while the job ran; the division points found are stored, but no synchronised file was made</translation>
    </message>
    <message>
        <source>同期ファイルは作成していません：保存されている分割点が2個未満です（%1 個）</source>
        <translation>no synchronised file: fewer than two division points are stored (%1)</translation>
    </message>
    <message>
        <source>%1 と %2 の別のジョブが実行中のため、このジョブは開始しませんでした（そのジョブが終わってからやり直してください）</source>
        <translation>another job on %1 and %2 is running; this one was not started (try again when that one has ended)</translation>
    </message>
    <message>
        <source>ジョブのロック %1 を作成できません：%2</source>
        <translation>cannot make the job lock %1: %2</translation>
    </message>
    <message>
        <source>ジョブのロック %1 を取得できません：%2</source>
        <translation>cannot take the job lock %1: %2</translation>
    </message>
    <message>
        <source>ジョブのロック %1 を取得できません：置き換えが繰り返されています</source>
        <translation>cannot take the job lock %1: it keeps being replaced</translation>
    </message>
    <message>
        <source>開始点：相関で確かめられず、立上りの推定のまま</source>
        <translation>start point: not confirmed by correlation; kept at the onset estimate</translation>
    </message>
    <message>
        <source>ロック判定：補正 %1、喪失 %2（保持 %3 点）、回復 %4</source>
        <translation>lock guard: %1 corrected, %2 lost (%3 points held), %4 recovered</translation>
    </message>
    <message>
        <source>基準ファイル %1 は使えません：%2</source>
        <translation>the master file %1 is not usable: %2</translation>
    </message>
    <message>
        <source>同期させるファイル %1 は使えません：%2</source>
        <translation>the slave file %1 is not usable: %2</translation>
    </message>
    <message>
        <source>%1 は使えません：%2</source>
        <translation>%1 is not usable: %2</translation>
    </message>
    <message>
        <source>基準ファイル %1 を読み込めません：%2</source>
        <translation>the master file %1 cannot be loaded: %2</translation>
    </message>
    <message>
        <source>同期させるファイル %1 を読み込めません：%2</source>
        <translation>the slave file %1 cannot be loaded: %2</translation>
    </message>
    <message>
        <source>%1 を読み込めません：%2</source>
        <translation>%1 cannot be loaded: %2</translation>
    </message>
    <message>
        <source>基準ファイル %1 には測れる音量がありません（平均 0）。照合できません</source>
        <translation>the master file %1 has no measurable level (average 0); it cannot be matched</translation>
    </message>
    <message>
        <source>%1 の分割点が範囲外です</source>
        <translation>division point out of range in %1</translation>
    </message>
    <message>
        <source>同期ファイルがWAVEファイルの上限 4 GiB を超えてしまいます（%1 フレーム）</source>
        <translation>the synchronised file would exceed the 4 GiB size limit of WAVE files (%1 frames)</translation>
    </message>
    <message>
        <source>%1 の区間を1つも作れませんでした</source>
        <translation>no segment of %1 could be built</translation>
    </message>
    <message>
        <source>%1 / %2 の組</source>
        <translation>the pair %1 / %2</translation>
    </message>
    <message>
        <source>%1 に保存されている分割点は %2 のものです</source>
        <translation>the stored division points of %1 belong to %2</translation>
    </message>
    <message>
        <source>%1 と %2 に保存されている分割点は別々のジョブで見つかったものです（%3；%4）</source>
        <translation>the stored division points of %1 and %2 were found by different jobs (%3; %4)</translation>
    </message>
    <message>
        <source>設定ファイルが %1 バイトを超えています</source>
        <translation>the settings file is larger than %1 bytes</translation>
    </message>
    <message>
        <source>%1 に保存されている分割点は、置き換えられる前のファイルで見つかったものです（大きさ・更新時刻・内容が違います）</source>
        <translation>the points stored for %1 were found on the file it replaced (its size, time or content differ)</translation>
    </message>
    <message>
        <source>%1 に保存されている分割点 %2 は使えません：%3</source>
        <translation>point %2 stored for %1 cannot be used: %3</translation>
    </message>
    <message>
        <source>Count が %1 ですが、その点は保存されていません</source>
        <translation>Count is %1, but that point is not stored</translation>
    </message>
    <message>
        <source>%1 はファイルの範囲（%2 … %3）の外です</source>
        <translation>%1 lies outside the file (%2 … %3)</translation>
    </message>
    <message>
        <source>%1 は前の点 %2 より後ではありません</source>
        <translation>%1 is not after the point before it, %2</translation>
    </message>
    <message>
        <source>（%1 秒より後は検索しておらず、外挿です）</source>
        <translation> (after %1 s not searched: extrapolated)</translation>
    </message>
    <message>
        <source>%1。これらは使わず、最初から検索します</source>
        <translation>%1; they are not used: the job starts from the beginning</translation>
    </message>
    <message>
        <source>%1。%2 と %3 をもう一度同期させてください</source>
        <translation>%1; synchronise %2 and %3 again</translation>
    </message>
    <message>
        <source>再開に使える保存済みの分割点がありません。最初から検索します</source>
        <translation>no stored division points to resume from; searching from the start</translation>
    </message>
    <message>
        <source>保存済みの分割点は基準の頭出し位置より前で終わっています。再開するものはありません</source>
        <translation>the stored division points end before the master lead-in; nothing to resume</translation>
    </message>
    <message>
        <source>保存済みの分割点 %1 個の後から再開します：%2（基準）/ %3（同期）</source>
        <translation>resuming after %1 stored division points, at %2 (master) / %3 (slave)</translation>
    </message>
    <message>
        <source>サンプルレートがありません</source>
        <translation>no sample rate</translation>
    </message>
    <message>
        <source>同期確認: できませんでした（%1）</source>
        <translation>check: not possible (%1)</translation>
    </message>
    <message>
        <source>同期確認: 短すぎて確認できません</source>
        <translation>check: too short to check</translation>
    </message>
    <message>
        <source>同期確認: 左右の両方に音のある部分がありません — 同期していません</source>
        <translation>check: no part has sound on both sides — NOT in step</translation>
    </message>
    <message>
        <source>同期確認: 両方に音のある部分の %1 しか照合できません（左右が別の録音か、片方が雑音です） — 同期していません</source>
        <translation>check: only %1 of the parts with sound on both sides can be matched (the sides are different recordings, or one is noise) — NOT in step</translation>
    </message>
    <message>
        <source>同期確認: %1 が±2サンプル以内</source>
        <translation>check: %1 within ±2 samples</translation>
    </message>
    <message>
        <source>、ずれ: %1</source>
        <translation>, off at %1</translation>
    </message>
    <message>
        <source>、一致なし: %1</source>
        <translation>, unmatched: %1</translation>
    </message>
    <message>
        <source>%1–%2 秒</source>
        <translation>%1–%2 s</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source> ほか %1 箇所</source>
        <translation> and %1 more</translation>
    </message>
    <message>
        <source> — 同期していません</source>
        <translation> — NOT in step</translation>
    </message>
    <message>
        <source>確認の詳細: 音のある窓 %2 個のうち %1 個を測定（全部で %3 個）、±2サンプル以内 %4（音のある窓全体の %5）、±1 ms 以内 %6、ずれの中央値 %7 サンプル、%8</source>
        <translation>check: %1 of %2 windows with sound measured (%3 in all); within +-2 frames %4 (%5 of all with sound), within +-1 ms %6, median |lag| %7 frames; %8</translation>
    </message>
    <message>
        <source>同期しています</source>
        <translation>in step</translation>
    </message>
    <message>
        <source>同期していません</source>
        <translation>NOT in step</translation>
    </message>
    <message>
        <source>%1 の %2 行目が読めません：%3</source>
        <translation>%1, line %2, cannot be read: %3</translation>
    </message>
    <message>
        <source>%1分%2秒</source>
        <translation>%1 min %2 s</translation>
    </message>
    <message>
        <source>あと%1分%2秒</source>
        <translation>%1 min %2 s left</translation>
    </message>
    <message>
        <source>拡張形式のfmtチャンクが短すぎます（%1 バイト）</source>
        <translation>the extensible fmt chunk is too short (%1 bytes)</translation>
    </message>
    <message>
        <source>サブフォーマットが不明な拡張形式のWAVEには対応していません</source>
        <translation>extensible WAVE with an unknown sub-format is not supported</translation>
    </message>
    <message>
        <source>%1 のサンプルを持つ拡張形式のWAVEには対応していません</source>
        <translation>extensible WAVE with %1 samples is not supported</translation>
    </message>
    <message>
        <source>フォーマット %1</source>
        <translation>format %1</translation>
    </message>
    <message>
        <source>%1 ビットの浮動小数点サンプルには対応していません</source>
        <translation>%1-bit float samples are not supported</translation>
    </message>
    <message>
        <source>%1 ビットのPCMサンプルには対応していません</source>
        <translation>%1-bit PCM samples are not supported</translation>
    </message>
    <message>
        <source>圧縮されたオーディオ（%1、フォーマット %2）には対応していません</source>
        <translation>compressed audio (%1, format %2) is not supported</translation>
    </message>
    <message>
        <source>フォーマット %1 には対応していません（対応しているのはPCMとIEEE浮動小数点です）</source>
        <translation>format %1 is not supported (only PCM and IEEE float are)</translation>
    </message>
    <message>
        <source>ファイルにチャンネルがありません</source>
        <translation>the file has no channels</translation>
    </message>
    <message>
        <source>サンプルレート %1 Hz には対応していません（対応しているのは %2～%3 Hz です）</source>
        <translation>a sample rate of %1 Hz is not supported (%2 to %3 Hz are)</translation>
    </message>
    <message>
        <source>fmtチャンクのブロックアライン（%1）が %2 チャンネル %3 ビットと合いません</source>
        <translation>the fmt chunk&apos;s block align (%1) does not match %2 channels of %3 bits</translation>
    </message>
    <message>
        <source>RIFF/WAVEファイルではありません（短すぎます）</source>
        <translation>not a RIFF/WAVE file (too short)</translation>
    </message>
    <message>
        <source>RIFF/WAVEファイルではありません</source>
        <translation>not a RIFF/WAVE file</translation>
    </message>
    <message>
        <source>RIFF/WAVEファイルではありません（WAVE形式がありません）</source>
        <translation>not a RIFF/WAVE file (no WAVE form)</translation>
    </message>
    <message>
        <source>RF64ファイルのds64チャンクが短すぎます</source>
        <translation>the RF64 file&apos;s ds64 chunk is too short</translation>
    </message>
    <message>
        <source>RF64ファイルのds64チャンクのサイズがありえない値です</source>
        <translation>the RF64 file&apos;s ds64 chunk states impossible sizes</translation>
    </message>
    <message>
        <source>fmtチャンクが短すぎます（%1 バイト）</source>
        <translation>the fmt chunk is too short (%1 bytes)</translation>
    </message>
    <message>
        <source>fmtチャンクがファイルの終わりを越えています</source>
        <translation>the fmt chunk runs past the end of the file</translation>
    </message>
    <message>
        <source>dataチャンクがfmtチャンクより前にあります</source>
        <translation>the data chunk comes before the fmt chunk</translation>
    </message>
    <message>
        <source>RIFFサイズがファイルサイズと合いません（無視します）</source>
        <translation>the RIFF size does not match the file size (ignored)</translation>
    </message>
    <message>
        <source>dataチャンクは %1 バイトとしていますが、ファイルには %2 バイトしかありません。ファイルにあるフレームだけを読みます</source>
        <translation>the data chunk states %1 bytes but the file holds %2; only the frames the file holds are read</translation>
    </message>
    <message>
        <source>%1 チャンクがファイルの終わりを越えています</source>
        <translation>the %1 chunk runs past the end of the file</translation>
    </message>
    <message>
        <source>dataチャンクがありません</source>
        <translation>no data chunk</translation>
    </message>
    <message>
        <source>fmtチャンクがありません</source>
        <translation>no fmt chunk</translation>
    </message>
    <message>
        <source>%1 チャンネル：最初の2チャンネルだけを読みます</source>
        <translation>%1 channels: only the first two are read</translation>
    </message>
    <message>
        <source>基準ファイル（%1 Hz）と同期させるファイル（%2 Hz）のサンプルレートが違います</source>
        <translation>the master (%1 Hz) and the slave (%2 Hz) have different sample rates</translation>
    </message>
    <message>
        <source>サンプルレートを変換できません：%1</source>
        <translation>the sample rate cannot be converted: %1</translation>
    </message>
    <message>
        <source>%1 はステレオのWAVEファイルではありません</source>
        <translation>%1 is not a stereo WAVE file</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>翻訳を読み込めませんでした</source>
        <translation>the translation could not be loaded</translation>
    </message>
    <message>
        <source>2つの録音を同期させます。</source>
        <translation>Puts two recordings of the same material in step.</translation>
    </message>
    <message>
        <source>qzv.ini、back.jpg と結果を置くプログラムフォルダ（既定：実行ファイルのフォルダ）</source>
        <translation>Program folder for qzv.ini, back.jpg and the results (default: the executable&apos;s folder).</translation>
    </message>
    <message>
        <source>表示言語：ja（日本語）または en（英語）。既定はロケールによる</source>
        <translation>Language of the windows: ja (Japanese) or en (English); by default from the locale.</translation>
    </message>
    <message>
        <source>余分な引数 &apos;%1&apos; があります（--help を参照）</source>
        <translation>unexpected argument &apos;%1&apos; (see --help)</translation>
    </message>
    <message>
        <source>--dir %1：そのフォルダはありません</source>
        <translation>--dir %1: no such folder</translation>
    </message>
</context>
<context>
    <name>tandem::EqStrip</name>
    <message>
        <source>EQ Freq range : %1 Hz - %2 Hz(100Hz以下と12000Hz以上は無視)</source>
        <translation>EQ Freq range : %1 Hz - %2 Hz (below 100 Hz and above 12000 Hz ignored)</translation>
    </message>
    <message>
        <source>EQRange</source>
        <translation>EQRange</translation>
    </message>
</context>
<context>
    <name>tandem::Levels</name>
    <message>
        <source>少</source>
        <translation>Few</translation>
    </message>
    <message>
        <source>普</source>
        <translation>Some</translation>
    </message>
    <message>
        <source>多</source>
        <translation>Many</translation>
    </message>
    <message>
        <source>BT</source>
        <translation>BT</translation>
    </message>
</context>
<context>
    <name>tandem::PlaybackDialog</name>
    <message>
        <source>再生中…</source>
        <translation>Playing…</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>再生</source>
        <translation>Playing</translation>
    </message>
</context>
<context>
    <name>tandem::ProgressDisplay</name>
    <message>
        <source>開始点検索</source>
        <translation>Start point search</translation>
    </message>
    <message>
        <source>同期位置検出</source>
        <translation>Sync positions</translation>
    </message>
    <message>
        <source>同期ファイル出力</source>
        <translation>Output file</translation>
    </message>
    <message>
        <source>停止しました（分割点 %1 個）。%2 を作成しました</source>
        <translation>Stopped (%1 division points). %2 was written.</translation>
    </message>
    <message>
        <source>停止しました（分割点 %1 個）。同期ファイルは作成されていません</source>
        <translation>Stopped (%1 division points). No synchronised file was made.</translation>
    </message>
    <message>
        <source>同期ファイルは作成されていません</source>
        <translation>No synchronised file was made.</translation>
    </message>
    <message>
        <source>停止しました（分割点 %1 個）。%2</source>
        <translation>Stopped (%1 division points). %2</translation>
    </message>
    <message>
        <source>同期しています</source>
        <translation>In step</translation>
    </message>
    <message>
        <source>同期していません</source>
        <translation>NOT in step</translation>
    </message>
    <message>
        <source>停止しました</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>失敗しました</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>作成しました（確認なし）</source>
        <translation>Written (not checked)</translation>
    </message>
</context>
<context>
    <name>tandem::TDebugWindow</name>
    <message>
        <source>DebugWindow</source>
        <translation>DebugWindow</translation>
    </message>
</context>
<context>
    <name>tandem::TJobListForm</name>
    <message>
        <source>Job List</source>
        <translation>Job List</translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation>&amp;Delete</translation>
    </message>
    <message>
        <source>Remix</source>
        <translation>Remix</translation>
    </message>
    <message>
        <source>再試行(&amp;R)</source>
        <translation>&amp;Retry</translation>
    </message>
    <message>
        <source>選択</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>未実行</source>
        <translation>Not run</translation>
    </message>
    <message>
        <source>未完了</source>
        <translation>Unfinished</translation>
    </message>
    <message>
        <source>同期済み</source>
        <translation>In step</translation>
    </message>
    <message>
        <source>同期していません</source>
        <translation>Not in step</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>失敗</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>作成済み</source>
        <translation>Written</translation>
    </message>
</context>
<context>
    <name>tandem::TRemixForm</name>
    <message>
        <source>Remix Setting</source>
        <translation>Remix Setting</translation>
    </message>
    <message>
        <source>VOL</source>
        <translation>VOL</translation>
    </message>
    <message>
        <source> L</source>
        <translation> L</translation>
    </message>
    <message>
        <source>PAN</source>
        <translation>PAN</translation>
    </message>
    <message>
        <source>R </source>
        <translation>R </translation>
    </message>
    <message>
        <source>作り直す</source>
        <translation>Rebuild</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>tandem::TTandemForm</name>
    <message>
        <source>基準にするWAVEファイル</source>
        <translation>Master WAVE file</translation>
    </message>
    <message>
        <source>同期させるWAVEファイル</source>
        <translation>WAVE file to synchronise</translation>
    </message>
    <message>
        <source>Tandem V1.5</source>
        <translation>Tandem V1.5</translation>
    </message>
    <message>
        <source>先頭の無効データ数(0.1秒単位)</source>
        <translation>Lead-in to skip (0.1 s steps)</translation>
    </message>
    <message>
        <source>無効データ部分を聞いてみる</source>
        <translation>Listen to the lead-in</translation>
    </message>
    <message>
        <source>0.1秒毎にUpDown</source>
        <translation>Up/down in 0.1 s steps</translation>
    </message>
    <message>
        <source>基準にするWAVEファイルの選択</source>
        <translation>Choose the master WAVE file</translation>
    </message>
    <message>
        <source>同期させるWAVEファイルの選択</source>
        <translation>Choose the WAVE file to synchronise</translation>
    </message>
    <message>
        <source>相異点</source>
        <translation>Difference</translation>
    </message>
    <message>
        <source>履歴</source>
        <translation>History</translation>
    </message>
    <message>
        <source>一括テスト</source>
        <translation>Batch test</translation>
    </message>
    <message>
        <source>&amp;Start</source>
        <translation>&amp;Start</translation>
    </message>
    <message>
        <source>分割間隔（0.1秒単位）：</source>
        <translation>Division interval (0.1 s):</translation>
    </message>
    <message>
        <source>開始点の検索範囲：</source>
        <translation>Start search range:</translation>
    </message>
    <message>
        <source>分割点の検索範囲：</source>
        <translation>Division search range:</translation>
    </message>
    <message>
        <source>検索中断ポイント：</source>
        <translation>Stop point:</translation>
    </message>
    <message>
        <source>ResetBoth</source>
        <translation>ResetBoth</translation>
    </message>
    <message>
        <source>ResetSlave</source>
        <translation>ResetSlave</translation>
    </message>
    <message>
        <source>EQを掛けたWAVE作成</source>
        <translation>Make equalised WAVE files</translation>
    </message>
    <message>
        <source>結果CSV</source>
        <translation>Result CSV</translation>
    </message>
    <message>
        <source>開始点CSV</source>
        <translation>Start CSV</translation>
    </message>
    <message>
        <source>区間CSV</source>
        <translation>Span CSV</translation>
    </message>
    <message>
        <source>一括登録</source>
        <translation>Register</translation>
    </message>
    <message>
        <source>一括テストの登録</source>
        <translation>Register for the batch test</translation>
    </message>
    <message>
        <source>EQファイルを残す</source>
        <translation>Keep EQ files</translation>
    </message>
    <message>
        <source>スレーブ単独出力</source>
        <translation>Slave alone too</translation>
    </message>
    <message>
        <source>スレーブだけをマスターの時間軸に合わせた「スレーブ名【マスター名】.wav」も作る</source>
        <translation>Also write the slave alone on the master&apos;s timeline, “slave【master】.wav”</translation>
    </message>
    <message>
        <source>Back Ground</source>
        <translation>Back Ground</translation>
    </message>
    <message>
        <source>%1 は読めるJPEG画像ではないため、背景なしで表示します</source>
        <translation>%1 is not a readable JPEG picture; shown without background</translation>
    </message>
    <message>
        <source>基準ファイルの選択</source>
        <translation>Choose the master file</translation>
    </message>
    <message>
        <source>同期させるファイルの選択</source>
        <translation>Choose the file to synchronise</translation>
    </message>
    <message>
        <source>停止中</source>
        <translation>Stopping</translation>
    </message>
    <message>
        <source>STOP</source>
        <translation>STOP</translation>
    </message>
    <message>
        <source>ジョブを開始できませんでした：%1</source>
        <translation>The job could not be started: %1</translation>
    </message>
    <message>
        <source>START</source>
        <translation>START</translation>
    </message>
    <message>
        <source>WAVEファイル (*.wav *.WAV *.wave)</source>
        <translation>WAVE files (*.wav *.WAV *.wave)</translation>
    </message>
    <message>
        <source>すべてのファイル (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>PNG画像 (*.png)</source>
        <translation>PNG images (*.png)</translation>
    </message>
    <message>
        <source>%1 が見つかりません。ファイルを選んでください</source>
        <translation>%1 was not found; choose the file</translation>
    </message>
    <message>
        <source>デバッグログを %1 に保存しました</source>
        <translation>debug log saved as %1</translation>
    </message>
    <message>
        <source>%1 と %2 の同期ファイルを、この音量とパンで作り直します</source>
        <translation>Rebuilds the synchronised file of %1 and %2 with this volume and pan</translation>
    </message>
    <message>
        <source>同期ファイルは作成されていません</source>
        <translation>no synchronised file was made</translation>
    </message>
    <message>
        <source>ずれている部分はありません</source>
        <translation>no stretch is off</translation>
    </message>
    <message>
        <source>ずれている部分（クリックで再生）：%1</source>
        <translation>stretches off (click to listen): %1</translation>
    </message>
    <message>
        <source>図の保存</source>
        <translation>Save the picture</translation>
    </message>
    <message>
        <source>図を %1 に保存しました</source>
        <translation>picture saved as %1</translation>
    </message>
    <message>
        <source>同期ファイルのフォルダを開く</source>
        <translation>Open the synchronised file&apos;s folder</translation>
    </message>
    <message>
        <source>同期ファイルを基準の頭出し位置から5秒聞く</source>
        <translation>Listen to five seconds of the synchronised file from the master lead-in</translation>
    </message>
    <message>
        <source>図をPNGファイルに保存</source>
        <translation>Save the picture as PNG</translation>
    </message>
    <message>
        <source>続行</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>保存された分割点の後から検索を続けます</source>
        <translation>Goes on searching after the stored division points</translation>
    </message>
    <message>
        <source>%1：%2分%3秒、%4 Hz、%5 ch、%6 %7 bit</source>
        <translation>%1: %2 min %3 s, %4 Hz, %5 ch, %6 %7 bit</translation>
    </message>
    <message>
        <source>再生中（%1 秒）…</source>
        <translation>Playing (%1 s)…</translation>
    </message>
    <message>
        <source>音声出力装置が見つからないため再生できません</source>
        <translation>no sound output device was found; nothing is played</translation>
    </message>
    <message>
        <source>違いの少ない二つの録音に：0.1秒毎に分割し、狭く検索します</source>
        <translation>For two recordings that differ little: a point every 0.1 s, a narrow search</translation>
    </message>
    <message>
        <source>ふつうの二つの録音に：0.2秒毎に分割します</source>
        <translation>For most pairs: a point every 0.2 s</translation>
    </message>
    <message>
        <source>違いの多い二つの録音に：0.3秒毎に分割し、500–2000 Hz で比べ、合わない区間は検索し直します</source>
        <translation>For two recordings that differ a lot: a point every 0.3 s, compared on 500–2000 Hz, stretches that do not match searched again</translation>
    </message>
    <message>
        <source>0.3秒毎に分割し、100–1000 Hz で比べ、先を読みながら検索します</source>
        <translation>A point every 0.3 s, compared on 100–1000 Hz, searching ahead</translation>
    </message>
    <message>
        <source>同期ファイルを作ります。実行中は停止します（Esc でも停止）</source>
        <translation>Makes the synchronised file; while a job runs, stops it (so does Esc)</translation>
    </message>
    <message>
        <source>実行中は直前の区間の一致度、終了後は判定の色</source>
        <translation>While a job runs: how well the last segment matched; afterwards: the colour of the verdict</translation>
    </message>
    <message>
        <source>帯域を絞って比べたときの、EQを掛けたコピーを消さずに残します</source>
        <translation>Keeps the equalised copies made to compare a narrower band</translation>
    </message>
    <message>
        <source>ほかの作業の邪魔にならないよう、低い優先度で実行します</source>
        <translation>Runs at a low priority, so that other work is not slowed</translation>
    </message>
</context>
<context>
    <name>tandem::TrackView</name>
    <message>
        <source>赤い部分をクリックすると、その部分を聞けます</source>
        <translation>Click a red stretch to listen to it</translation>
    </message>
    <message>
        <source>速度差 (ppm)</source>
        <translation>rate (ppm)</translation>
    </message>
    <message>
        <source>ずれ (サンプル)</source>
        <translation>lag (frames)</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>pause</translation>
    </message>
    <message>
        <source>欠落</source>
        <translation>lost</translation>
    </message>
    <message>
        <source>補正</source>
        <translation>correction</translation>
    </message>
    <message>
        <source>保持</source>
        <translation>held</translation>
    </message>
    <message>
        <source>ずれている部分</source>
        <translation>off</translation>
    </message>
    <message>
        <source>データなし</source>
        <translation>no data</translation>
    </message>
</context>
</TS>
