<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>brevload</name>
    <message>
        <source>文件太小了，必须是不合格式的</source>
        <translation>The file is too small; it cannot be in the right format</translation>
    </message>
    <message>
        <source>文件头不符合格式要求</source>
        <translation>The file header does not have the required format</translation>
    </message>
    <message>
        <source>烧录数据长度与计算结果不符</source>
        <translation>The length of the firmware data does not match the header</translation>
    </message>
    <message>
        <source>烧录数据CRC与计算结果不符</source>
        <translation>The CRC of the firmware data does not match the header</translation>
    </message>
    <message>
        <source>未知的表头版本格式</source>
        <translation>Unknown header version</translation>
    </message>
    <message>
        <source>需要选择一个可访问的文件</source>
        <translation>Choose a file that can be accessed</translation>
    </message>
    <message>
        <source>请选择一个文件</source>
        <translation>Please choose a file</translation>
    </message>
    <message>
        <source>文件格式不正确</source>
        <translation>Incorrect file format</translation>
    </message>
    <message>
        <source>无法访问文件</source>
        <translation>Cannot access the file</translation>
    </message>
    <message>
        <source>设备%s正在操作中，请等待完成</source>
        <translation>Device %s is busy; wait until it has finished</translation>
    </message>
    <message>
        <source>请输入正确的IO配置</source>
        <translation>Enter a valid IO configuration</translation>
    </message>
    <message>
        <source>读取FLASH ID失败</source>
        <translation>Reading the FLASH ID failed</translation>
    </message>
    <message>
        <source>外部 FLASH ID %x</source>
        <translation>External FLASH ID %x</translation>
    </message>
    <message>
        <source>正在写入数据...</source>
        <translation>Writing data...</translation>
    </message>
    <message>
        <source>正在校验数据...</source>
        <translation>Verifying data...</translation>
    </message>
    <message>
        <source>%s个数据块未改变</source>
        <translation>%s blocks unchanged</translation>
    </message>
    <message>
        <source>正在擦除...</source>
        <translation>Erasing...</translation>
    </message>
    <message>
        <source>读取文件失败</source>
        <translation>Reading the file failed</translation>
    </message>
    <message>
        <source>数据写入完成，若想再次升级，请重新接入设备</source>
        <translation>Download complete; to update again, reconnect the device</translation>
    </message>
    <message>
        <source>数据写入完成</source>
        <translation>Download complete</translation>
    </message>
    <message>
        <source>数据写入完成，请重启设备</source>
        <translation>Download complete; restart the device</translation>
    </message>
    <message>
        <source>数据写入失败</source>
        <translation>Download failed</translation>
    </message>
    <message>
        <source>设备初始化失败</source>
        <translation>Device initialisation failed</translation>
    </message>
    <message>
        <source>Nor Flash已经擦除完毕</source>
        <translation>NOR flash erased</translation>
    </message>
    <message>
        <source>Nor Flash擦除失败</source>
        <translation>Erasing the NOR flash failed</translation>
    </message>
    <message>
        <source>随机数据测试通过</source>
        <translation>Random data test passed</translation>
    </message>
    <message>
        <source>随机数据测试失败</source>
        <translation>Random data test failed</translation>
    </message>
    <message>
        <source>文件%s正在写入中，请等待读取完成</source>
        <translation>File %s is being written; wait until the read has finished</translation>
    </message>
    <message>
        <source>没有设备，无法打开</source>
        <translation>No device; nothing to open</translation>
    </message>
    <message>
        <source>打开失败，重新拔插后操作</source>
        <translation>Opening failed; unplug and reconnect the device, then try again</translation>
    </message>
    <message>
        <source>没有初始化</source>
        <translation>Not initialised</translation>
    </message>
    <message>
        <source>文件不能读取</source>
        <translation>The file cannot be read</translation>
    </message>
    <message>
        <source>数据量太大，内存分配失败</source>
        <translation>Too much data; memory allocation failed</translation>
    </message>
    <message>
        <source>读取数据失败，没有保存文件</source>
        <translation>Reading the data failed; no file was saved</translation>
    </message>
    <message>
        <source>保存设置失败：%s</source>
        <translation>Could not save the settings: %s</translation>
    </message>
    <message>
        <source>检测到设备已插入</source>
        <translation>Device found connected</translation>
    </message>
    <message>
        <source>检查到设备接入</source>
        <translation>Device connected</translation>
    </message>
    <message>
        <source>设备移除</source>
        <translation>Device removed</translation>
    </message>
    <message>
        <source>文件不能访问</source>
        <translation>The file cannot be accessed</translation>
    </message>
    <message>
        <source>请先选择一个文件</source>
        <translation>Please choose a file first</translation>
    </message>
    <message>
        <source>文件解析错误</source>
        <translation>File parse error</translation>
    </message>
    <message>
        <source>下载失败</source>
        <translation>Download failed</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Notice</translation>
    </message>
    <message>
        <source>点击下载</source>
        <translation>Click to download</translation>
    </message>
    <message>
        <source>文件:</source>
        <translation>File:</translation>
    </message>
    <message>
        <source>浏览</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>选择一个下载数据源</source>
        <translation>Choose the file to download</translation>
    </message>
    <message>
        <source>自动下载文件</source>
        <translation>Auto download</translation>
    </message>
    <message>
        <source>按下PB9进入下载模式时，会自动下载</source>
        <translation>Downloads automatically when a device enters download mode (PB9 held)</translation>
    </message>
    <message>
        <source>外部FLASH</source>
        <translation>External flash</translation>
    </message>
    <message>
        <source>下载结束后复位硬件</source>
        <translation>Reset after download</translation>
    </message>
    <message>
        <source>当下载完毕后，会复位设备以便检查设备的运行情况</source>
        <translation>Resets the device after the download so that you can check it runs</translation>
    </message>
    <message>
        <source>PC模式自动下载</source>
        <translation>Auto download (PC)</translation>
    </message>
    <message>
        <source>程序运行，切换模式进入PC模式时会自动下载程序</source>
        <translation>Downloads automatically when a running device switches to PC mode</translation>
    </message>
    <message>
        <source>只擦除NorFlash</source>
        <translation>Erase NOR only</translation>
    </message>
    <message>
        <source>使用4K擦除</source>
        <translation>Use 4K erase</translation>
    </message>
    <message>
        <source>默认使用64K擦除，当勾上这个选项后则使用4K擦除</source>
        <translation>Erases in 64K blocks by default; checked, erases in 4K sectors</translation>
    </message>
    <message>
        <source>写入512K随机数</source>
        <translation>Write 512K random</translation>
    </message>
    <message>
        <source>测试选项</source>
        <translation>Test options</translation>
    </message>
    <message>
        <source>进行接口测试</source>
        <translation>Interface tests</translation>
    </message>
    <message>
        <source>设置密钥7B2D</source>
        <translation>Set key 7B2D</translation>
    </message>
    <message>
        <source>取消密钥</source>
        <translation>Clear key</translation>
    </message>
    <message>
        <source>关闭设备</source>
        <translation>Close dev</translation>
    </message>
    <message>
        <source>操作记录:</source>
        <translation>Log:</translation>
    </message>
    <message>
        <source>清除记录</source>
        <translation>Clear log</translation>
    </message>
    <message>
        <source>1、点击设备区的盘符按钮进行下载  2、把鼠标放到控件上面以获得该控件的帮助 </source>
        <translation>1. Click a device&apos;s button to download  2. Hover over a control for its help </translation>
    </message>
    <message>
        <source>3、以参数-df启动进程，总线参数将变成手动设置</source>
        <translation>3. Started with -df, the bus parameters are set by hand</translation>
    </message>
    <message>
        <source>4、-a 参数表示以控制台模式运行，此时需要-f参数指定文件路径，如-fbv.up</source>
        <translation>4. -a runs in console mode; give the file with -f, e.g. -fbv.up</translation>
    </message>
</context>
</TS>
