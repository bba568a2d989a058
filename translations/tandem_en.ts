<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
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
        <source>%1分%2秒</source>
        <translation>%1 min %2 s</translation>
    </message>
    <message>
        <source>あと%1分%2秒</source>
        <translation>%1 min %2 s left</translation>
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
</context>
</TS>
