<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Browser</name>
    <message>
        <source>原有设置无法读取，已恢复为默认设置。</source>
        <translation>The previous settings could not be read; the defaults are in use again.</translation>
    </message>
    <message>
        <source>原设置文件已另存为：%1</source>
        <translation>The old settings file was kept as: %1</translation>
    </message>
    <message>
        <source>设置文件无法替换，修改的设置将不能保存。</source>
        <translation>The settings file could not be replaced; changed settings cannot be saved.</translation>
    </message>
    <message>
        <source>青隼</source>
        <translation>Norva</translation>
    </message>
</context>
<context>
    <name>DownloadManagerWidget</name>
    <message>
        <source>下载管理</source>
        <translation>Downloads</translation>
    </message>
    <message>
        <source>没有下载内容</source>
        <translation>No downloads</translation>
    </message>
    <message>
        <source>另存为</source>
        <translation>Save As</translation>
    </message>
    <message>
        <source>下载列表</source>
        <translation>Download list</translation>
    </message>
</context>
<context>
    <name>DownloadWidget</name>
    <message>
        <source>双击打开文件</source>
        <translation>Double-click to open the file</translation>
    </message>
    <message>
        <source>打开文件夹</source>
        <translation>Open folder</translation>
    </message>
    <message>
        <source>%L1 B</source>
        <translation>%L1 B</translation>
    </message>
    <message>
        <source>%L1 KiB</source>
        <translation>%L1 KiB</translation>
    </message>
    <message>
        <source>%L1 MiB</source>
        <translation>%L1 MiB</translation>
    </message>
    <message>
        <source>%L1 GiB</source>
        <translation>%L1 GiB</translation>
    </message>
    <message>
        <source>%p% - %1 of %2 已下载 - %3/s</source>
        <translation>%p% - %1 of %2 downloaded - %3/s</translation>
    </message>
    <message>
        <source>未知大小 - %1 已下载 - %2/s</source>
        <translation>Unknown size - %1 downloaded - %2/s</translation>
    </message>
    <message>
        <source>已完成 - %1 已下载 - %2/s</source>
        <translation>Completed - %1 downloaded - %2/s</translation>
    </message>
    <message>
        <source>已取消 - %1 已下载 - %2/s</source>
        <translation>Cancelled - %1 downloaded - %2/s</translation>
    </message>
    <message>
        <source>已中断: %1</source>
        <translation>Interrupted: %1</translation>
    </message>
    <message>
        <source>打开 %1 所在的文件夹</source>
        <translation>Open the folder of %1</translation>
    </message>
    <message>
        <source>%1 下载进度</source>
        <translation>%1 download progress</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>青隼</source>
        <translation>Norva</translation>
    </message>
    <message>
        <source>全局热键提醒</source>
        <translation>Global hotkey</translation>
    </message>
    <message>
        <source>全局热键注册失败，可能和已有软件冲突，请重新设置热键组合</source>
        <translation>The global hotkey could not be registered; another program may be using it. Please choose a different key combination.</translation>
    </message>
    <message>
        <source>确定关闭当前标签页后退出吗？</source>
        <translation>Close the current tab and quit?</translation>
    </message>
    <message>
        <source>是</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>否</source>
        <translation>No</translation>
    </message>
</context>
<context>
    <name>NavigationBar</name>
    <message>
        <source>Navigation</source>
        <translation>Navigation</translation>
    </message>
    <message>
        <source>后退</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>前进</source>
        <translation>Forward</translation>
    </message>
    <message>
        <source>重新加载页面</source>
        <translation>Reload page</translation>
    </message>
    <message>
        <source>停止加载当前页面</source>
        <translation>Stop loading the current page</translation>
    </message>
    <message>
        <source>重新加载当前页面</source>
        <translation>Reload the current page</translation>
    </message>
    <message>
        <source>撤销(&amp;U)    Ctrl+Z</source>
        <translation>&amp;Undo    Ctrl+Z</translation>
    </message>
    <message>
        <source>地址</source>
        <translation>Address</translation>
    </message>
</context>
<context>
    <name>NotifyWindow</name>
    <message>
        <source>日程邀请</source>
        <translation>Schedule invitation</translation>
    </message>
    <message>
        <source>15分钟后</source>
        <translation>In 15 minutes</translation>
    </message>
    <message>
        <source>查看详情</source>
        <translation>View details</translation>
    </message>
    <message>
        <source>拒绝</source>
        <translation>Decline</translation>
    </message>
    <message>
        <source>知道啦</source>
        <translation>Got it</translation>
    </message>
    <message>
        <source>#%1 {opacity: 1;border-radius: 16px;background: #ffffff;}</source>
        <translation>#%1 {opacity: 1;border-radius: 16px;background: #ffffff;}</translation>
    </message>
    <message>
        <source>接受</source>
        <translation>Accept</translation>
    </message>
    <message>
        <source>任务提醒</source>
        <translation>Task reminder</translation>
    </message>
    <message>
        <source>日程提醒</source>
        <translation>Schedule reminder</translation>
    </message>
    <message>
        <source>提醒你 </source>
        <translation>reminds you: </translation>
    </message>
    <message>
        <source>后</source>
        <translation> from now</translation>
    </message>
</context>
<context>
    <name>PageCommands</name>
    <message>
        <source>Find</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>Find:</source>
        <translation>Find:</translation>
    </message>
    <message>
        <source>&quot;%1&quot; not found.</source>
        <translation>&quot;%1&quot; not found.</translation>
    </message>
    <message>
        <source>Open Web Resource</source>
        <translation>Open Web Resource</translation>
    </message>
    <message>
        <source>Web Resources (*.html *.htm *.svg *.png *.gif *.svgz);;All files (*.*)</source>
        <translation>Web Resources (*.html *.htm *.svg *.png *.gif *.svgz);;All files (*.*)</translation>
    </message>
</context>
<context>
    <name>ProgressDialog</name>
    <message>
        <source>下载进度</source>
        <translation>Download progress</translation>
    </message>
    <message>
        <source>下载 %1.</source>
        <translation>Downloading %1.</translation>
    </message>
</context>
<context>
    <name>SysSettingWindow</name>
    <message>
        <source>系统设置</source>
        <translation>System Settings</translation>
    </message>
    <message>
        <source>通用设置</source>
        <translation>General</translation>
    </message>
    <message>
        <source>网络代理</source>
        <translation>Network Proxy</translation>
    </message>
    <message>
        <source>下载</source>
        <translation>Downloads</translation>
    </message>
    <message>
        <source>隐私</source>
        <translation>Privacy</translation>
    </message>
    <message>
        <source>热键</source>
        <translation>Hotkeys</translation>
    </message>
    <message>
        <source>软件更新</source>
        <translation>Software Update</translation>
    </message>
    <message>
        <source>字体</source>
        <translation>Fonts</translation>
    </message>
    <message>
        <source>其他</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>常用</source>
        <translation>General</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>应用</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>系统</source>
        <translation>System</translation>
    </message>
    <message>
        <source>开机自动启动</source>
        <translation>Start automatically at login</translation>
    </message>
    <message>
        <source>启用消息通知</source>
        <translation>Enable notifications</translation>
    </message>
    <message>
        <source>启用消息通知声音</source>
        <translation>Enable notification sound</translation>
    </message>
    <message>
        <source>启用多标签模式(重启软件后生效)</source>
        <translation>Enable multi-tab mode (takes effect after a restart)</translation>
    </message>
    <message>
        <source>启用浏览器和多标签模式(重启软件后生效)</source>
        <translation>Enable browser and multi-tab mode (takes effect after a restart)</translation>
    </message>
    <message>
        <source>启用兼容模式(重启软件后生效)</source>
        <translation>Enable compatibility mode (takes effect after a restart)</translation>
    </message>
    <message>
        <source>关闭主窗口时退出软件</source>
        <translation>Quit when the main window is closed</translation>
    </message>
    <message>
        <source>不使用代理</source>
        <translation>No proxy</translation>
    </message>
    <message>
        <source>使用浏览器设置</source>
        <translation>Use the system settings</translation>
    </message>
    <message>
        <source>手动配置</source>
        <translation>Manual configuration</translation>
    </message>
    <message>
        <source>(重启软件后生效)</source>
        <translation>(takes effect after a restart)</translation>
    </message>
    <message>
        <source>端口: </source>
        <translation>Port: </translation>
    </message>
    <message>
        <source>用户名:</source>
        <translation>User name:</translation>
    </message>
    <message>
        <source>密码: </source>
        <translation>Password: </translation>
    </message>
    <message>
        <source>下载目录</source>
        <translation>Download folder</translation>
    </message>
    <message>
        <source>请选择保存下载文件所在的目录文件夹</source>
        <translation>Choose the folder where downloaded files are saved</translation>
    </message>
    <message>
        <source>清除浏览数据</source>
        <translation>Clear browsing data</translation>
    </message>
    <message>
        <source>Cookie及网站数据</source>
        <translation>Cookies and site data</translation>
    </message>
    <message>
        <source>浏览记录</source>
        <translation>Browsing history</translation>
    </message>
    <message>
        <source>缓存的图片和文件</source>
        <translation>Cached images and files</translation>
    </message>
    <message>
        <source>全局热键</source>
        <translation>Global hotkeys</translation>
    </message>
    <message>
        <source>打开软件</source>
        <translation>Open Norva</translation>
    </message>
    <message>
        <source>快捷搜索</source>
        <translation>Quick search</translation>
    </message>
    <message>
        <source>请按下快捷键</source>
        <translation>Press the key combination</translation>
    </message>
    <message>
        <source>启用</source>
        <translation>Enable</translation>
    </message>
    <message>
        <source>更新策略</source>
        <translation>Update policy</translation>
    </message>
    <message>
        <source>不检查更新</source>
        <translation>Do not check for updates</translation>
    </message>
    <message>
        <source>仅提示更新</source>
        <translation>Only notify about updates</translation>
    </message>
    <message>
        <source>自动下载并更新</source>
        <translation>Download and update automatically</translation>
    </message>
    <message>
        <source>自动填充选项</source>
        <translation>Autofill</translation>
    </message>
    <message>
        <source>允许保存密码</source>
        <translation>Allow saving passwords</translation>
    </message>
    <message>
        <source>软件语言</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>自动检查</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>选择文件夹</source>
        <translation>Choose folder</translation>
    </message>
    <message>
        <source>清除成功！</source>
        <translation>Browsing data cleared.</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>设置无法保存，重启软件后这些修改将会丢失。</source>
        <translation>The settings could not be saved; these changes will be lost when the program restarts.</translation>
    </message>
    <message>
        <source>无法设置开机自动启动，软件不会随系统启动。</source>
        <translation>Starting with the system could not be set up; the program will not start with the system.</translation>
    </message>
    <message>
        <source>无法取消开机自动启动，软件仍会随系统启动。</source>
        <translation>Starting with the system could not be switched off; the program will still start with the system.</translation>
    </message>
    <message>
        <source>设置类别</source>
        <translation>Settings categories</translation>
    </message>
    <message>
        <source>代理类型</source>
        <translation>Proxy type</translation>
    </message>
    <message>
        <source>代理服务器地址</source>
        <translation>Proxy server address</translation>
    </message>
    <message>
        <source>选择下载目录</source>
        <translation>Choose the download folder</translation>
    </message>
    <message>
        <source>启用打开软件热键</source>
        <translation>Enable the open software hotkey</translation>
    </message>
    <message>
        <source>启用快捷搜索热键</source>
        <translation>Enable the quick search hotkey</translation>
    </message>
</context>
<context>
    <name>TabWidget</name>
    <message>
        <source>青隼</source>
        <translation>Norva</translation>
    </message>
    <message>
        <source>新标签</source>
        <translation>New Tab</translation>
    </message>
    <message>
        <source>复制标签</source>
        <translation>Duplicate Tab</translation>
    </message>
    <message>
        <source>关闭标签</source>
        <translation>Close Tab</translation>
    </message>
    <message>
        <source>关闭其他标签</source>
        <translation>Close Other Tabs</translation>
    </message>
    <message>
        <source>刷新标签</source>
        <translation>Reload Tab</translation>
    </message>
    <message>
        <source>重新加载所有标签</source>
        <translation>Reload All Tabs</translation>
    </message>
</context>
<context>
    <name>TrayController</name>
    <message>
        <source>隐藏菜单栏</source>
        <translation>Hide Menu Bar</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>更新日志</source>
        <translation>Release Notes</translation>
    </message>
    <message>
        <source>检查版本</source>
        <translation>Check for Updates</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>青隼</source>
        <translation>Norva</translation>
    </message>
    <message>
        <source>显示菜单栏</source>
        <translation>Show Menu Bar</translation>
    </message>
    <message>
        <source>转到最新通知</source>
        <translation>Go to the newest notice</translation>
    </message>
</context>
<context>
    <name>Updater</name>
    <message>
        <source>是</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>否</source>
        <translation>No</translation>
    </message>
    <message>
        <source>版本检查失败</source>
        <translation>Version check failed</translation>
    </message>
    <message>
        <source>失败原因:</source>
        <translation>Reason: </translation>
    </message>
    <message>
        <source>检查版本</source>
        <translation>Check for Updates</translation>
    </message>
    <message>
        <source>获取版本信息出错</source>
        <translation>Could not read the version information</translation>
    </message>
    <message>
        <source>当前版本 %1 已经是最新版本！</source>
        <translation>Version %1 is the latest version.</translation>
    </message>
    <message>
        <source>升级提醒</source>
        <translation>Update available</translation>
    </message>
    <message>
        <source>发现新版本 %1 ，是否下载升级？</source>
        <translation>A new version %1 is available. Download and install it?</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>无效的下载链接: %1: %2</source>
        <translation>Invalid download link: %1: %2</translation>
    </message>
    <message>
        <source>10秒后自动下载新版本 %1 安装升级</source>
        <translation>New version %1 will be downloaded and installed in 10 seconds</translation>
    </message>
    <message>
        <source>是否覆盖已存在的 %1 文件</source>
        <translation>Overwrite the existing %1 file?</translation>
    </message>
    <message>
        <source>此处已存在一个文件名为  %1%2.
覆盖?</source>
        <translation>A file named %1 already exists%2.
Overwrite it?</translation>
    </message>
    <message>
        <source> 在当前目录</source>
        <translation> in the current directory</translation>
    </message>
    <message>
        <source>无法保存到该文件 %1: %2.</source>
        <translation>Cannot save to the file %1: %2.</translation>
    </message>
    <message>
        <source>新版本 %1 下载进度</source>
        <translation>Downloading new version %1</translation>
    </message>
    <message>
        <source>下载 </source>
        <translation>Downloading </translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>重定向</source>
        <translation>Redirect</translation>
    </message>
    <message>
        <source>重定向到 %1 ？</source>
        <translation>Redirect to %1?</translation>
    </message>
    <message>
        <source>无法启动安装程序 %1。</source>
        <translation>Cannot start the installer %1.</translation>
    </message>
    <message>
        <source>升级包的下载地址不安全（不是 https 链接），已停止升级：%1</source>
        <translation>The update download address is not secure (not an https link); the update was stopped: %1</translation>
    </message>
    <message>
        <source>下载的内容不是安装程序（%1），已停止升级。</source>
        <translation>What was downloaded is not an installer (%1); the update was stopped.</translation>
    </message>
    <message>
        <source>内容为空</source>
        <translation>empty content</translation>
    </message>
    <message>
        <source>连接超时</source>
        <translation>the connection timed out</translation>
    </message>
    <message>
        <source>升级包的文件名 %1 不是可以启动的安装程序，已停止升级。</source>
        <translation>The update file name %1 is not an installer that can be started; the update was stopped.</translation>
    </message>
    <message>
        <source>正在下载新版本 %1</source>
        <translation>Downloading version %1</translation>
    </message>
    <message>
        <source>正在下载新版本 %1：%2%</source>
        <translation>Downloading version %1: %2%</translation>
    </message>
    <message>
        <source>长时间没有收到数据，下载已停止。</source>
        <translation>No data arrived for a long time; the download was stopped.</translation>
    </message>
    <message>
        <source>新版本 %1 已下载完成，是否现在安装？</source>
        <translation>Version %1 has been downloaded. Install it now?</translation>
    </message>
</context>
<context>
    <name>WebPage</name>
    <message>
        <source>Allow %1 to show notification on your desktop?</source>
        <translation>Allow %1 to show notification on your desktop?</translation>
    </message>
    <message>
        <source>Allow %1 to access your location information?</source>
        <translation>Allow %1 to access your location information?</translation>
    </message>
    <message>
        <source>Allow %1 to access your microphone?</source>
        <translation>Allow %1 to access your microphone?</translation>
    </message>
    <message>
        <source>Allow %1 to access your webcam?</source>
        <translation>Allow %1 to access your webcam?</translation>
    </message>
    <message>
        <source>Allow %1 to access your microphone and webcam?</source>
        <translation>Allow %1 to access your microphone and webcam?</translation>
    </message>
    <message>
        <source>Allow %1 to lock your mouse cursor?</source>
        <translation>Allow %1 to lock your mouse cursor?</translation>
    </message>
    <message>
        <source>Allow %1 to capture video of your desktop?</source>
        <translation>Allow %1 to capture video of your desktop?</translation>
    </message>
    <message>
        <source>Allow %1 to capture audio and video of your desktop?</source>
        <translation>Allow %1 to capture audio and video of your desktop?</translation>
    </message>
    <message>
        <source>Permission Request</source>
        <translation>Permission Request</translation>
    </message>
    <message>
        <source>Allow %1 to open all %2 links?</source>
        <translation>Allow %1 to open all %2 links?</translation>
    </message>
</context>
<context>
    <name>WebView</name>
    <message>
        <source>渲染进程正常退出</source>
        <translation>Render process exited normally</translation>
    </message>
    <message>
        <source>渲染进程异常退出</source>
        <translation>Render process exited abnormally</translation>
    </message>
    <message>
        <source>渲染进程崩溃</source>
        <translation>Render process crashed</translation>
    </message>
    <message>
        <source>渲染进程已被终止</source>
        <translation>Render process was killed</translation>
    </message>
    <message>
        <source>渲染进程已退出，状态代码为： %1
是否需要重新加载页面？</source>
        <translation>The render process exited with status code %1.
Reload the page?</translation>
    </message>
    <message>
        <source>是</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>否</source>
        <translation>No</translation>
    </message>
    <message>
        <source>返回</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>前进</source>
        <translation>Forward</translation>
    </message>
    <message>
        <source>重新加载</source>
        <translation>Reload</translation>
    </message>
    <message>
        <source>复制页面链接</source>
        <translation>Copy page link</translation>
    </message>
    <message>
        <source>显示菜单栏</source>
        <translation>Show Menu Bar</translation>
    </message>
    <message>
        <source>隐藏菜单栏</source>
        <translation>Hide Menu Bar</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
</context>
<context>
    <name>WindowMenus</name>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>修改</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>撤销</source>
        <translation>Undo</translation>
    </message>
    <message>
        <source>重做</source>
        <translation>Redo</translation>
    </message>
    <message>
        <source>剪切</source>
        <translation>Cut</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>粘贴</source>
        <translation>Paste</translation>
    </message>
    <message>
        <source>粘贴匹配样式</source>
        <translation>Paste and Match Style</translation>
    </message>
    <message>
        <source>全选</source>
        <translation>Select All</translation>
    </message>
    <message>
        <source>视图</source>
        <translation>View</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>重新加载  </source>
        <translation>Reload  </translation>
    </message>
    <message>
        <source>放大</source>
        <translation>Zoom In</translation>
    </message>
    <message>
        <source>缩小</source>
        <translation>Zoom Out</translation>
    </message>
    <message>
        <source>重置</source>
        <translation>Reset Zoom</translation>
    </message>
    <message>
        <source>切换全屏  </source>
        <translation>Toggle Full Screen  </translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>隐藏菜单栏</source>
        <translation>Hide Menu Bar</translation>
    </message>
    <message>
        <source>网络测试</source>
        <translation>Network Test</translation>
    </message>
    <message>
        <source>更新日志</source>
        <translation>Release Notes</translation>
    </message>
    <message>
        <source>检查版本</source>
        <translation>Check for Updates</translation>
    </message>
    <message>
        <source>调试工具</source>
        <translation>Developer Tools</translation>
    </message>
    <message>
        <source>转到最新通知</source>
        <translation>Go to the newest notice</translation>
    </message>
</context>
</TS>
